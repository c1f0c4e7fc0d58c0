# Runs after test discovery: the end-to-end cases need the standard fixture movies.
foreach(test IN LISTS avi_tests_TESTS)
  if(test MATCHES "^avi\\.AviEndToEnd")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED standard_fixtures)
  endif()
endforeach()
