// An OdbcDrm.dll whose import table has 15,000 descriptors, each importing
// ordinal 1 of one DLL whose name is 300 KB long. The loader fails on it
// (no such DLL); kvdrm-check must still read it in little memory and time.
asm(R"(
	.section .idata$2,"dr"
	.rept 15000
	.long 0, 0, 0
	.rva hostile_name
	.rva hostile_thunk
	.endr
	.long 0, 0, 0, 0, 0
	.section .idata$5,"dr"
hostile_thunk:
	.long 0x80000001, 0
	.section .idata$7,"dr"
hostile_name:
	.fill 300000, 1, 0x78
	.byte 0
	.text
)");

extern "C" int __stdcall DllMain(void *, unsigned long, void *) { return 1; }
