# Provides the imported target onnxruntime::onnxruntime.
# Either ONNXRUNTIME_ROOT names an existing install (include/ and lib/, the
# layout of the runtime's release archives), or the pinned npm packages are
# downloaded once into GLINTBOX_DEPS_DIR and reused from there.
set(GLINTBOX_DEPS_DIR "${PROJECT_SOURCE_DIR}/.deps" CACHE PATH
    "Where downloaded dependencies are cached (outside the build tree)")
set(ONNXRUNTIME_ROOT "" CACHE PATH
    "An existing ONNX Runtime install with include/ and lib/; empty to download the pinned one")

if(NOT ONNXRUNTIME_ROOT)
  set(_ort_dir "${GLINTBOX_DEPS_DIR}/onnxruntime")
  execute_process(
    COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/fetch-onnxruntime.sh" "${_ort_dir}"
    RESULT_VARIABLE _ort_fetch_result)
  if(NOT _ort_fetch_result EQUAL 0)
    message(FATAL_ERROR "Could not obtain ONNX Runtime (see the lines above)")
  endif()
  set(_ort_root "${_ort_dir}")
else()
  set(_ort_root "${ONNXRUNTIME_ROOT}")
endif()

find_path(ONNXRUNTIME_INCLUDE_DIR onnxruntime_c_api.h
          PATHS "${_ort_root}/include" "${_ort_root}/include/onnxruntime"
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(WIN32)
  # mingw links through an import library made from the DLL (see
  # scripts/cross-windows.sh); the DLL itself goes beside glintbox.exe.
  find_library(ONNXRUNTIME_LIBRARY NAMES libonnxruntime.dll.a onnxruntime.lib
               PATHS "${_ort_root}/lib" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_file(ONNXRUNTIME_DLL onnxruntime.dll PATHS "${_ort_root}/bin" "${_ort_root}/lib"
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ONNXRUNTIME_DLL)
    message(FATAL_ERROR "No onnxruntime.dll under ${_ort_root}/bin")
  endif()
else()
  find_library(ONNXRUNTIME_LIBRARY NAMES onnxruntime libonnxruntime.so.1
               PATHS "${_ort_root}/lib" "${_ort_root}/lib64" NO_DEFAULT_PATH)
endif()
message(STATUS "ONNX Runtime: ${ONNXRUNTIME_LIBRARY}")

# Headers alone, for the libraries that only use the runtime's types.
add_library(onnxruntime_headers INTERFACE)
target_include_directories(onnxruntime_headers SYSTEM INTERFACE "${ONNXRUNTIME_INCLUDE_DIR}")

add_library(onnxruntime::onnxruntime SHARED IMPORTED)
if(WIN32)
  set_target_properties(onnxruntime::onnxruntime PROPERTIES
    IMPORTED_LOCATION "${ONNXRUNTIME_DLL}"
    IMPORTED_IMPLIB "${ONNXRUNTIME_LIBRARY}"
    INTERFACE_LINK_LIBRARIES onnxruntime_headers)
  set(ONNXRUNTIME_RUNTIME_FILE "${ONNXRUNTIME_DLL}")
else()
  set_target_properties(onnxruntime::onnxruntime PROPERTIES
    IMPORTED_LOCATION "${ONNXRUNTIME_LIBRARY}"
    INTERFACE_LINK_LIBRARIES onnxruntime_headers)
  # The file the program loads at run time (the soname), for installing.
  get_filename_component(_ort_real "${ONNXRUNTIME_LIBRARY}" REALPATH)
  set(ONNXRUNTIME_RUNTIME_FILE "${_ort_real}")
endif()
get_filename_component(ONNXRUNTIME_LIBRARY_DIR "${ONNXRUNTIME_LIBRARY}" DIRECTORY)
