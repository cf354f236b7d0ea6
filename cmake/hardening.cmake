# The Windows build's own code: a stack canary in every function with an array or an
# address-taken local (GCC then links the static libssp), and the checked string and stdio
# functions that mingw-w64's headers give at -O1 and above. The cross-built libraries from
# scripts/setup are built without these.
if(WIN32)
    add_compile_options(-fstack-protector-strong)
    add_compile_definitions(_FORTIFY_SOURCE=2)
    add_link_options(-fstack-protector-strong)
endif()
