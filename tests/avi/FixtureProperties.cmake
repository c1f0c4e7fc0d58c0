# Runs after test discovery: the end-to-end cases take their recordings from the standard movies.
foreach(test IN LISTS avi_tests_TESTS)
  if(test MATCHES "^avi\\.AviEndToEnd")
    set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED standard_movies)
  endif()
endforeach()
