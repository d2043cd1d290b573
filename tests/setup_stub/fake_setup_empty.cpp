// A library by the setup library's name that exports neither function.
extern "C" int qv_fake_setup_nothing_here(void) { return 0; }
