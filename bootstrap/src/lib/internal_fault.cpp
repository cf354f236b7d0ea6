#include "lib/internal_fault.hpp"

#include <cstdlib>
#include <string>

#include "lib/standard_streams.hpp"

namespace vantrel {

std::string internal_fault_line(std::string_view what) {
    std::string line = "Vantrel internal fault: ";
    line += what;
    line += '\n';
    return line;
}

void internal_fault(std::string_view what) {
    write_standard_error(internal_fault_line(what));
    std::_Exit(internal_fault_exit_code);
}

}  // namespace vantrel
