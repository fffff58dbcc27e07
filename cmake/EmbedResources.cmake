# Embeds text files (form definitions) into a C++ source as named resources:
#   kx_embed_resources(OUT <generated.cpp> FUNCTION <c++ function name> FILES name=path ...)
# The generated function `std::optional<std::string> <FUNCTION>(const std::string& name)` finds them.
function(kx_embed_resources)
    cmake_parse_arguments(E "" "OUT;FUNCTION" "FILES" ${ARGN})
    set(body "")
    set(deps "")
    foreach(pair ${E_FILES})
        string(REPLACE "=" ";" parts ${pair})
        list(GET parts 0 name)
        list(GET parts 1 path)
        list(APPEND deps ${path})
        file(READ ${path} content)
        string(APPEND body "    if (name == \"${name}\") return std::string(R\"kxres(${content})kxres\");\n")
    endforeach()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${deps})
    file(WRITE ${E_OUT}.tmp
"// Generated from the form definitions; do not edit.
#include <optional>
#include <string>
std::optional<std::string> ${E_FUNCTION}(const std::string& name) {
${body}    return std::nullopt;
}
")
    configure_file(${E_OUT}.tmp ${E_OUT} COPYONLY)
endfunction()
