/* A module that the dynamic-library tests load by path. */

__attribute__((visibility("default"))) int zel_test_module_answer(void) { return 42; }
