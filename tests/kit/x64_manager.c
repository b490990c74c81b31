/* A 64-bit DLL named OdbcDrm.dll: what a 32-bit process cannot load. Built
 * with clang and lld-link, without a C runtime. */
__declspec(dllexport) int Placeholder(void) { return 0; }
