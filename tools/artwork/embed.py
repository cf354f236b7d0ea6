"""C++ source that compiles a file's bytes into the program's read-only data."""

_PER_LINE = 20


def cpp_source(data, header, namespace, function, origin):
    """Defines `std::span<const unsigned char> namespace::function()` returning `data`."""
    lines = []
    for start in range(0, len(data), _PER_LINE):
        lines.append("    " + ", ".join(str(b) for b in data[start:start + _PER_LINE]) + ",")
    body = "\n".join(lines)
    return f"""// Generated from {origin} by tools/artwork/generate.py; do not edit.
#include "{header}"

namespace {namespace} {{
namespace {{

constexpr unsigned char bytes[{len(data)}] = {{
{body}
}};

}}  // namespace

std::span<const unsigned char> {function}() {{ return bytes; }}

}}  // namespace {namespace}
"""
