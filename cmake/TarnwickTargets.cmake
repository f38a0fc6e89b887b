# Shared settings for the project's own targets.

# Warnings on, and errors, for our own code only (not for GoogleTest).
function(tarnwick_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
        -Wno-missing-field-initializers)
endfunction()

# Windows version, Unicode, and a self-contained binary (no MinGW runtime DLLs beside it).
function(tarnwick_target target)
    tarnwick_warnings(${target})
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
        _WIN32_WINNT=0x0A00 WINVER=0x0A00)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()

# nlohmann's JSON library (Debian's nlohmann-json3-dev, header-only). Its headers are copied into
# the build tree so that the cross compiler sees them without the build machine's other headers.
find_path(TARNWICK_NLOHMANN_ROOT nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
    NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(COPY ${TARNWICK_NLOHMANN_ROOT}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/thirdparty)
add_library(tarnwick_json INTERFACE)
target_include_directories(tarnwick_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/thirdparty)
