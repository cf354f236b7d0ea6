#include "windows/com_shell_link.hpp"

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>

#include <string_view>

#include "windows/com_apartment.hpp"
#include "windows/com_error.hpp"
#include "windows/com_ptr.hpp"

namespace vantrel {
namespace {

constexpr std::string_view initialize_failed = "Could not initialize Windows shortcuts";
constexpr std::string_view create_failed = "Could not create the desktop shortcut";
constexpr std::string_view inspect_failed = "Could not inspect the desktop shortcut";
constexpr std::string_view set_target_failed = "Could not set shortcut target";
constexpr std::string_view set_folder_failed = "Could not set shortcut folder";
constexpr std::string_view set_icon_failed = "Could not set the Vantrel shortcut icon";
constexpr std::string_view prepare_failed = "Could not prepare the desktop shortcut";
constexpr std::string_view save_failed = "Could not save the desktop shortcut";

// Every value read back from a link goes through a buffer of this many UTF-16 units.
constexpr int read_buffer_units = 32768;

Error com_error(std::string_view message, HRESULT code) {
    return Error::from_composed(Stage::Bootstrap, com_failure_text(message, code));
}

// A zero-filled buffer for one read; the value is what comes before the first NUL.
class ReadBuffer {
  public:
    ReadBuffer() : units_(read_buffer_units, L'\0') {}
    wchar_t* data() { return units_.data(); }
    int size() const { return read_buffer_units; }
    std::wstring text() const { return units_.substr(0, units_.find(L'\0')); }

  private:
    std::wstring units_;
};

// The reads of the match rule, in its order; nothing at the first that fails.
std::optional<ShellLinkProperties> read_properties(IShellLinkW& link) {
    ShellLinkProperties properties;
    ReadBuffer target;
    if (FAILED(link.GetPath(target.data(), target.size(), nullptr, SLGP_RAWPATH)))
        return std::nullopt;
    properties.target = target.text();
    ReadBuffer folder;
    if (FAILED(link.GetWorkingDirectory(folder.data(), folder.size())))
        return std::nullopt;
    properties.working_folder = folder.text();
    ReadBuffer arguments;
    if (FAILED(link.GetArguments(arguments.data(), arguments.size())))
        return std::nullopt;
    properties.arguments = arguments.text();
    ReadBuffer icon;
    if (FAILED(link.GetIconLocation(icon.data(), icon.size(), &properties.icon_index)))
        return std::nullopt;
    properties.icon_path = icon.text();
    return properties;
}

}  // namespace

HRESULT create_shell_link(IShellLinkW** link) {
    return CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                            reinterpret_cast<void**>(link));
}

Status save_shell_link(const std::wstring& target, const std::wstring& working_folder,
                       const std::wstring& save_path, const ShellLinkFactory& factory) {
    // Declared first, so that the interfaces are released before COM is uninitialised.
    auto apartment = ComApartment::enter_single_threaded();
    if (!apartment)
        return com_error(initialize_failed, apartment.error().code);
    ComPtr<IShellLinkW> link;
    if (const HRESULT result = factory(link.put()); FAILED(result))
        return com_error(create_failed, result);
    if (const HRESULT result = link->SetPath(target.c_str()); FAILED(result))
        return com_error(set_target_failed, result);
    if (const HRESULT result = link->SetWorkingDirectory(working_folder.c_str()); FAILED(result))
        return com_error(set_folder_failed, result);
    if (const HRESULT result = link->SetIconLocation(target.c_str(), 0); FAILED(result))
        return com_error(set_icon_failed, result);
    ComPtr<IPersistFile> file;
    if (const HRESULT result = link.query(file); FAILED(result))
        return com_error(prepare_failed, result);
    if (const HRESULT result = file->Save(save_path.c_str(), TRUE); FAILED(result))
        return com_error(save_failed, result);
    return {};
}

Result<std::optional<ShellLinkProperties>> read_shell_link(const std::wstring& path,
                                                           const ShellLinkFactory& factory) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return std::optional<ShellLinkProperties>();
    auto apartment = ComApartment::enter_single_threaded();
    if (!apartment)
        return com_error(initialize_failed, apartment.error().code);
    ComPtr<IShellLinkW> link;
    if (const HRESULT result = factory(link.put()); FAILED(result))
        return com_error(inspect_failed, result);
    ComPtr<IPersistFile> file;
    if (const HRESULT result = link.query(file); FAILED(result))
        return com_error(prepare_failed, result);
    if (FAILED(file->Load(path.c_str(), STGM_READ)))
        return std::optional<ShellLinkProperties>();
    return read_properties(*link.get());
}

}  // namespace vantrel
