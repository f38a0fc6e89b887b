# Installs the build tree into a staging prefix, moves that prefix elsewhere (the package must
# not remember where it was installed), builds this folder's consumer against it with the
# build's toolchain, and runs the consumer under Wine from another folder.
# cmake -DBUILD_DIR= -DWORK_DIR= -DTOOLCHAIN_FILE= -DGENERATOR= -DWINE_RUN= -P RunConsumer.cmake
foreach(variable BUILD_DIR WORK_DIR TOOLCHAIN_FILE GENERATOR WINE_RUN)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "RunConsumer.cmake needs -D${variable}=")
    endif()
endforeach()

function(run_step what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${what} failed (${result}):\n${output}")
    endif()
endfunction()

set(staged "${WORK_DIR}/staged")
set(prefix "${WORK_DIR}/prefix")
set(consumer "${WORK_DIR}/consumer build")
file(REMOVE_RECURSE "${WORK_DIR}")

run_step("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${staged}")
file(RENAME "${staged}" "${prefix}")

run_step("configure" ${CMAKE_COMMAND} -S "${CMAKE_CURRENT_LIST_DIR}" -B "${consumer}"
         -G "${GENERATOR}" "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}"
         "-DCMAKE_PREFIX_PATH=${prefix}" -DCMAKE_BUILD_TYPE=Release)
run_step("build" ${CMAKE_COMMAND} --build "${consumer}")

execute_process(COMMAND "${WINE_RUN}" "${consumer}/tarnwick_consumer.exe"
                WORKING_DIRECTORY "${WORK_DIR}" TIMEOUT 60
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
set(expected "consumer: IVirtualControl of Tarnwick_Virtual_Interfaces, window class Button, hook host attach 1 detach 1")
string(FIND "${output}" "${expected}" found)
if(NOT result EQUAL 0 OR found EQUAL -1)
    message(FATAL_ERROR "the consumer answered ${result}; expected a line \"${expected}\"")
endif()
