# The served documents are build output: scripts/build-web.mjs assembles index.html,
# quick-actions.html and newbie-panel.js from the modules under web/ into OUT_DIR, again whenever a
# module, a page template, the assembler or the pinned packages change. The static assets (icons,
# narration clips) are served as they are. Sets WEB_ASSETS to the NAME PATH pairs to embed.
function(web_pages SRC_DIR OUT_DIR)
  find_program(NODE_EXECUTABLE node REQUIRED)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${SRC_DIR}/*.js ${SRC_DIR}/*.css ${SRC_DIR}/*.html)
  set(pages index.html quick-actions.html newbie-panel.js)
  list(TRANSFORM pages PREPEND ${OUT_DIR}/ OUTPUT_VARIABLE outputs)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${NODE_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/build-web.mjs ${OUT_DIR}
    DEPENDS ${sources} ${CMAKE_SOURCE_DIR}/scripts/build-web.mjs ${CMAKE_SOURCE_DIR}/scripts/embed-fonts.mjs
            ${CMAKE_SOURCE_DIR}/package-lock.json
    COMMENT "Assembling the web pages from web/"
    VERBATIM)
  add_custom_target(web_pages DEPENDS ${outputs})

  file(GLOB_RECURSE statics CONFIGURE_DEPENDS RELATIVE ${SRC_DIR} ${SRC_DIR}/*)
  list(FILTER statics EXCLUDE REGEX "(^|/)\\.")
  list(FILTER statics EXCLUDE REGEX "(^|/)README")
  list(FILTER statics EXCLUDE REGEX "\\.(js|css|html)$")
  set(assets "")
  foreach(page IN LISTS pages)
    list(APPEND assets ${page} ${OUT_DIR}/${page})
  endforeach()
  foreach(f IN LISTS statics)
    list(APPEND assets ${f} ${SRC_DIR}/${f})
  endforeach()
  set(WEB_ASSETS "${assets}" PARENT_SCOPE)
endfunction()
