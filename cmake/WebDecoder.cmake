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
    BUILD_BYPRODUCTS "${CMAKE_BINARY_DIR}/control/vermelle_decoder.mjs"
    # The sources live in the main tree: let the inner build decide what changed.
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON
  )
endif()

# The page control, qxrep32.js (everything in one classic script, three.js
# and the module included), and qxloader.mjs (the three.js loader as an ES
# module that leaves `three` to the application), bundled by esbuild from the
# npm packages that scripts/install-deps.sh puts in control/node_modules.
set(VERMELLE_ESBUILD "${CMAKE_CURRENT_SOURCE_DIR}/control/node_modules/.bin/esbuild")
if(VERMELLE_WEB AND EXISTS "${VERMELLE_ESBUILD}")
  string(TIMESTAMP build_date "%b %d %Y")
  file(GLOB web_scripts CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/control/*.mjs"
       "${CMAKE_CURRENT_SOURCE_DIR}/control/web/*.mjs")
  set(decoder_module "${CMAKE_BINARY_DIR}/control/vermelle_decoder.mjs")
  set(bundle_options --bundle --minify --external:node:url --log-level=warning
      --log-override:empty-import-meta=silent "--alias:vermelle-decoder=${decoder_module}"
      "--define:__BUILD_DATE__=\"${build_date}\"")
  add_custom_command(
    OUTPUT "${CMAKE_BINARY_DIR}/control/qxrep32.js" "${CMAKE_BINARY_DIR}/control/qxloader.mjs"
    COMMAND "${VERMELLE_ESBUILD}" "${CMAKE_CURRENT_SOURCE_DIR}/control/web/qxrep32_entry.mjs" ${bundle_options}
            --format=iife --global-name=QXRep32Lib "--outfile=${CMAKE_BINARY_DIR}/control/qxrep32.js"
    COMMAND "${VERMELLE_ESBUILD}" "${CMAKE_CURRENT_SOURCE_DIR}/control/web/qx_loader.mjs" ${bundle_options}
            --format=esm --external:three "--outfile=${CMAKE_BINARY_DIR}/control/qxloader.mjs"
    DEPENDS ${web_scripts} "${decoder_module}" control_wasm
    COMMENT "Bundling qxrep32.js and qxloader.mjs"
    VERBATIM)
  add_custom_target(qxrep32_js ALL DEPENDS "${CMAKE_BINARY_DIR}/control/qxrep32.js")
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
