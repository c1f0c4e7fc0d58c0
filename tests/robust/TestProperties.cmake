# Every robustness case repairs the standard movies; the sparse-file ones are slow.
foreach(test IN LISTS robust_tests_TESTS)
  set_tests_properties("${test}" PROPERTIES FIXTURES_REQUIRED standard_movies)
  if(test MATCHES "^robust\\.LargeFile")
    set_tests_properties("${test}" PROPERTIES LABELS "robust;large" TIMEOUT 3600)
  endif()
endforeach()
