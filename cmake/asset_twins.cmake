# Run at build time by embed_assets(): LISTING holds "index|compress|path" lines. Writes
# OUT_DIR/<index>.tag (a strong ETag: the quoted start of the bytes' SHA-256) and, when compress
# is 1, OUT_DIR/<index>.gz (gzip -9n: no name, no time stamp, so the same bytes every build) and
# its own tag. A file whose bytes did not change is left alone, so nothing rebuilds for it.
function(write_if_changed path content)
  file(WRITE ${path}.new "${content}")
  configure_file(${path}.new ${path} COPYONLY)
endfunction()

function(tag_of file out)
  file(SHA256 ${file} digest)
  string(SUBSTRING ${digest} 0 32 digest)
  write_if_changed(${out} "\"${digest}\"")
endfunction()

file(STRINGS ${LISTING} lines)
foreach(line IN LISTS lines)
  string(REPLACE "|" ";" fields "${line}")
  list(GET fields 0 index)
  list(GET fields 1 compress)
  list(GET fields 2 file)
  tag_of(${file} ${OUT_DIR}/${index}.tag)
  if(compress)
    execute_process(COMMAND ${GZIP} -9nc ${file} OUTPUT_FILE ${OUT_DIR}/${index}.gz.new RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip failed on ${file}")
    endif()
    configure_file(${OUT_DIR}/${index}.gz.new ${OUT_DIR}/${index}.gz COPYONLY)
    tag_of(${OUT_DIR}/${index}.gz ${OUT_DIR}/${index}.gz.tag)
  endif()
endforeach()
