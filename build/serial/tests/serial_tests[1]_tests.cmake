set(  serial_tests_TESTS)
