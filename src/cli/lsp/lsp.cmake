# The language server, as a library of its own: the tool runs it, the unit
# tests drive its pieces, and the fuzzer feeds it bytes. Its sources are
# listed here once; each caller builds it against the core it links, the
# fuzzer against one instrumented for coverage.
#
#   vyrl_add_lsp_library(NAME CORE INTERNAL)
#
# CORE is what users of the library link too; INTERNAL gives the private
# headers, which only the server's own sources see: it reads values by the
# core's number and colour rules and type names as they resolve, rather than
# by rules of its own. The tool itself still sees the public headers only.
set(VYRL_LSP_DIR ${CMAKE_CURRENT_LIST_DIR})

function(vyrl_add_lsp_library name core internal)
  include(${PROJECT_SOURCE_DIR}/cmake/json.cmake)
  set(sources complete.cpp diagnose.cpp navigate.cpp position.cpp protocol.cpp scope.cpp server.cpp tokens.cpp
    transport.cpp uri.cpp)
  list(TRANSFORM sources PREPEND ${VYRL_LSP_DIR}/)
  add_library(${name} STATIC ${sources})
  # Included as "lsp/server.hpp".
  target_include_directories(${name} PUBLIC ${VYRL_LSP_DIR}/..)
  target_link_libraries(${name} PUBLIC ${core} ${VYRL_JSON_TARGET} PRIVATE ${internal})
endfunction()
