// CallMeasured (export_rows.h): pushes the arguments itself, so that it can
// compare the stack pointer before the pushes with the one after the call.
// %edi holds the first across the call; stdcall preserves it.
asm(R"(
  .text
  .globl _CallMeasured
_CallMeasured:
  pushl %ebp
  movl  %esp, %ebp
  pushl %esi
  pushl %edi
  pushl %ebx
  movl  12(%ebp), %esi
  movl  16(%ebp), %ecx
  movl  %esp, %edi
1:
  testl %ecx, %ecx
  jz    2f
  decl  %ecx
  pushl (%esi,%ecx,4)
  jmp   1b
2:
  call  *8(%ebp)
  movl  %esp, %edx
  subl  %edi, %edx
  movl  %edi, %esp
  movl  20(%ebp), %ecx
  movl  %edx, (%ecx)
  popl  %ebx
  popl  %edi
  popl  %esi
  popl  %ebp
  ret
)");
