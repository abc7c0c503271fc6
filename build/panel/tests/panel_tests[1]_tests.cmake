set(  panel_tests_TESTS)
