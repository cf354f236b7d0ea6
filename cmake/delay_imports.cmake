# Windows looks for a DLL that is not one of its KnownDLLs in the program's own folder first,
# and a static import is loaded before any code of ours runs. Such a DLL is therefore imported
# through a delay library instead: loaded at the first call, when the process entry has already
# confined loads to System32. bootstrap/delay_imports/<dll>.def lists what the program calls.
#
# vantrel_delay_import(dll) makes the interface library vantrel_delayed_<dll>.
function(vantrel_delay_import dll)
    set(def "${PROJECT_SOURCE_DIR}/bootstrap/delay_imports/${dll}.def")
    set(folder "${PROJECT_BINARY_DIR}/delay_imports")
    set(library "${folder}/lib${dll}_delay.a")
    file(MAKE_DIRECTORY "${folder}")
    # A fixed temporary prefix, not one made of the process id: the same bytes in every build.
    add_custom_command(OUTPUT "${library}"
        COMMAND "${CMAKE_DLLTOOL}" --input-def "${def}" --dllname "${dll}.dll"
            --output-delaylib "lib${dll}_delay.a" --temp-prefix "${dll}_delay"
        WORKING_DIRECTORY "${folder}"
        DEPENDS "${def}"
        VERBATIM)
    add_custom_target(vantrel_${dll}_delay_library DEPENDS "${library}")
    add_library(vantrel_delayed_${dll} INTERFACE)
    add_dependencies(vantrel_delayed_${dll} vantrel_${dll}_delay_library)
    target_link_libraries(vantrel_delayed_${dll} INTERFACE "${library}")
endfunction()
