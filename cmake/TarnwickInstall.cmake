# What `cmake --install` lays out for hosts, and the CMake package that finds it:
#   bin/                 the library, the maker's DLLs it imports, the hooking host, the type
#                        library and the host command: everything a host needs beside its .exe
#   lib/                 import libraries of the library and of the hooking host
#   include/             the exported headers, the header generated from the type library and
#                        platform/vaskhookhost.h
#   lib/cmake/Tarnwick/  find_package(Tarnwick CONFIG) with Tarnwick::Native, Tarnwick::HookHost
# Included last by the top-level CMakeLists.txt, so that every target exists by now.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TARNWICK_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tarnwick)

set_target_properties(TarnwickNative PROPERTIES EXPORT_NAME Native)
target_include_directories(TarnwickNative INTERFACE
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS TarnwickNative EXPORT TarnwickTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The hooking host links the reservoir stand-in, which an exported target would drag into the
# package; TarnwickConfig.cmake declares Tarnwick::HookHost itself from these two file names.
install(TARGETS vask_hookhost
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
get_target_property(TARNWICK_HOOKHOST_NAME vask_hookhost OUTPUT_NAME)
set(TARNWICK_HOOKHOST_DLL ${TARNWICK_HOOKHOST_NAME}${CMAKE_SHARED_LIBRARY_SUFFIX})
get_target_property(TARNWICK_HOOKHOST_IMPORT_SUFFIX vask_hookhost IMPORT_SUFFIX)
set(TARNWICK_HOOKHOST_IMPLIB ${TARNWICK_HOOKHOST_NAME}${TARNWICK_HOOKHOST_IMPORT_SUFFIX})

# The maker's libraries are the library's own imports: a host needs their DLLs, never their
# headers or import libraries.
foreach(standin vask_reservoir vask_conduit vask_lantern vask_relay)
    install(FILES $<TARGET_FILE:${standin}> DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
install(FILES ${TARNWICK_BIN_DIR}/Tarnwick.Virtual.Interfaces.tlb
    DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tarnwick-host)
    install(TARGETS tarnwick-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_BINARY_DIR}/idl/generated/Tarnwick.Virtual.Interfaces.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/platform/vaskhookhost.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/platform)

install(EXPORT TarnwickTargets NAMESPACE Tarnwick:: DESTINATION ${TARNWICK_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TarnwickConfig.cmake.in
    ${PROJECT_BINARY_DIR}/TarnwickConfig.cmake INSTALL_DESTINATION ${TARNWICK_PACKAGE_DIR}
    PATH_VARS CMAKE_INSTALL_BINDIR CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarnwickConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TarnwickConfig.cmake
    ${PROJECT_BINARY_DIR}/TarnwickConfigVersion.cmake DESTINATION ${TARNWICK_PACKAGE_DIR})
