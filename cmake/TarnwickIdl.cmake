# widl with the IDL includes of libwine-dev and Wine's stdole2.tlb.
execute_process(COMMAND dpkg -L libwine-dev OUTPUT_VARIABLE _wine_dev_files)
string(REGEX MATCH "[^\n]*/wine/windows/oaidl\\.idl" _oaidl "${_wine_dev_files}")
if(NOT _oaidl)
    message(FATAL_ERROR "oaidl.idl of libwine-dev not found; run scripts/setup")
endif()
get_filename_component(WINE_IDL_DIR ${_oaidl} DIRECTORY)
find_file(STDOLE2_TLB stdole2.tlb PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
    /usr/lib/wine/x86_64-windows NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
get_filename_component(STDOLE2_DIR ${STDOLE2_TLB} DIRECTORY)

# tarnwick_idl(NAME IDL TLB_DIR): NAME_tlb target, NAME interface library with header and IIDs.
function(tarnwick_idl name idl tlb_dir)
    get_filename_component(stem ${idl} NAME_WE)
    get_filename_component(base ${idl} NAME)
    string(REGEX REPLACE "\\.idl$" "" base ${base})
    set(gen ${CMAKE_CURRENT_BINARY_DIR}/generated)
    set(tlb ${tlb_dir}/${base}.tlb)
    add_custom_command(
        OUTPUT ${tlb} ${gen}/${base}.h ${gen}/${base}_i.c
        COMMAND ${CMAKE_COMMAND} -E make_directory ${gen} ${tlb_dir}
        COMMAND ${WIDL_EXECUTABLE} -m64 -I${WINE_IDL_DIR} -L${STDOLE2_DIR}
                -t -o ${tlb} ${idl}
        COMMAND ${WIDL_EXECUTABLE} -m64 -I${WINE_IDL_DIR} -L${STDOLE2_DIR}
                -h -o ${gen}/${base}.h ${idl}
        COMMAND ${WIDL_EXECUTABLE} -m64 -I${WINE_IDL_DIR} -L${STDOLE2_DIR}
                -u -o ${gen}/${base}_i.c ${idl}
        DEPENDS ${idl}
        COMMENT "widl ${base}.idl"
        VERBATIM)
    add_custom_target(${name}_tlb DEPENDS ${tlb} ${gen}/${base}.h)
    add_library(${name} STATIC ${gen}/${base}_i.c)
    target_include_directories(${name} PUBLIC ${gen})
    add_dependencies(${name} ${name}_tlb)
endfunction()

