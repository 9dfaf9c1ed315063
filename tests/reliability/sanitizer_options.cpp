// The fault tests bound resident memory. The address sanitizer keeps freed blocks in a
// quarantine (256 MB by default) that would count as growth; here it is kept at 16 MB, which
// still catches a use after free of anything freed during one fault. ASAN_OPTIONS given at run
// time come on top.

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}
#endif
