# JSON for the language server. Development builds take Debian's
# nlohmann-json3-dev through its CMake package; a pip build has the PyPI
# package nlohmann-json as a build requirement, which ships the headers but
# no CMake package, so its include directory is asked of the build's Python.
find_package(nlohmann_json 3.10 CONFIG QUIET)
if(TARGET vyrl_json)
  set(VYRL_JSON_TARGET vyrl_json)
elseif(nlohmann_json_FOUND)
  set(VYRL_JSON_TARGET nlohmann_json::nlohmann_json)
else()
  # scikit-build-core names the build's Python; a plain build tries python3.
  if(Python_EXECUTABLE)
    set(VYRL_JSON_PYTHON ${Python_EXECUTABLE})
  else()
    find_program(VYRL_JSON_PYTHON NAMES python3 python)
  endif()
  if(VYRL_JSON_PYTHON)
    # find_spec, not an import: the package's own helper needs a further
    # package that a build environment may lack.
    execute_process(
      COMMAND ${VYRL_JSON_PYTHON} -c
        "import importlib.util, pathlib; s = importlib.util.find_spec('nlohmann_json'); print(pathlib.Path(next(iter(s.submodule_search_locations))) / 'include')"
      OUTPUT_VARIABLE VYRL_JSON_INCLUDE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT VYRL_JSON_INCLUDE OR NOT EXISTS "${VYRL_JSON_INCLUDE}/nlohmann/json.hpp")
    message(FATAL_ERROR "The vyrl tool needs nlohmann-json: install Debian's nlohmann-json3-dev, "
      "or 'pip install nlohmann-json' into the Python that builds, or configure with -DVYRL_BUILD_CLI=OFF.")
  endif()
  add_library(vyrl_json INTERFACE)
  target_include_directories(vyrl_json SYSTEM INTERFACE ${VYRL_JSON_INCLUDE})
  set(VYRL_JSON_TARGET vyrl_json)
endif()
