# Prints the size of FILE; fails above LIMIT bytes unless WARN_ONLY (the build only reports it,
# the test fails).
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
if(size GREATER LIMIT)
  if(WARN_ONLY)
    message(WARNING "${name}: ${size} bytes, above the limit of ${LIMIT}")
  else()
    message(FATAL_ERROR "${name}: ${size} bytes, above the limit of ${LIMIT}")
  endif()
else()
  message(STATUS "${name}: ${size} bytes (limit ${LIMIT})")
endif()
