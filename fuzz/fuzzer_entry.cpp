// libFuzzer brings main(); the target itself lives in relay_fuzz_target.
