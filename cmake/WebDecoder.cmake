# Adds `control_wasm`, an external project that builds control/ with the
# Emscripten toolchain into <build>/control (vermelle_decoder.mjs), so one
# build folder holds qxtool, vermelle and the web viewer's module.
#
# Skipped without Emscripten (VERMELLE_WEB is then OFF) and in the sanitizer
# and fuzzing configurations, which test the native code only. Debian's
# Emscripten runs its JavaScript tools with the node modules packaged under
# /usr/share/nodejs, hence NODE_PATH.
find_program(VERMELLE_EMXX em++)
find_file(VERMELLE_EMSCRIPTEN_TOOLCHAIN Emscripten.cmake
          PATHS /usr/share/emscripten/cmake/Modules/Platform /usr/lib/emscripten/cmake/Modules/Platform
          NO_DEFAULT_PATH)
set(web_default OFF)
if(VERMELLE_EMXX AND VERMELLE_EMSCRIPTEN_TOOLCHAIN AND NOT VERMELLE_SANITIZE AND NOT VERMELLE_TSAN
   AND NOT VERMELLE_FUZZ)
  set(web_default ON)
endif()
option(VERMELLE_WEB "Build the web viewer's WebAssembly decoder (needs Emscripten)" ${web_default})

if(VERMELLE_WEB)
  include(ExternalProject)
  set(VERMELLE_NODE_PATH "/usr/share/nodejs" CACHE PATH "Node modules that Debian's Emscripten needs")
  set(emscripten_env ${CMAKE_COMMAND} -E env "NODE_PATH=${VERMELLE_NODE_PATH}")
  ExternalProject_Add(control_wasm
    SOURCE_DIR "${CMAKE_CURRENT_SOURCE_DIR}/control"
    BINARY_DIR "${CMAKE_BINARY_DIR}/control"
    CMAKE_COMMAND ${emscripten_env} ${CMAKE_COMMAND}
    CMAKE_ARGS "-DCMAKE_TOOLCHAIN_FILE=${VERMELLE_EMSCRIPTEN_TOOLCHAIN}" -DCMAKE_BUILD_TYPE=Release
               "-DVERMELLE_WERROR=${VERMELLE_WERROR}"
    BUILD_COMMAND ${emscripten_env} ${CMAKE_COMMAND} --build <BINARY_DIR>
    INSTALL_COMMAND ""
    # The sources live in the main tree: let the inner build decide what changed.
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON
  )
endif()

# The web viewer's tests run on Node's own test runner against this build's
# qxtool and module (control/tests).
find_program(VERMELLE_NODE node)
if(VERMELLE_WEB AND VERMELLE_TESTS AND VERMELLE_NODE)
  add_test(NAME WebViewer.NodeTests
           COMMAND "${VERMELLE_NODE}" --test "${CMAKE_CURRENT_SOURCE_DIR}/control/tests/")
  set_tests_properties(WebViewer.NodeTests PROPERTIES
    ENVIRONMENT "VERMELLE_BUILD_DIR=${CMAKE_BINARY_DIR};VERMELLE_CORPUS_DIR=${CMAKE_CURRENT_SOURCE_DIR}/../shared/corpus")
endif()
