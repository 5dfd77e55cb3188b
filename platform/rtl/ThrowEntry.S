// The platform's __cxa_throw on Linux x86-64 (ThrowSites.cpp has the
// portable one used elsewhere).
//
// It records the raise through ztl_RecordThrowEntry and then jumps into the
// C++ runtime's __cxa_throw instead of calling it, so no frame of the
// platform is left between the throw expression and the runtime: the
// unwinder walks, in both of its phases, exactly the frames it would walk
// without the platform, and a throw costs what it costs without it (an extra
// frame costs about a fifth of a throw).
//
// ztl_RecordThrowEntry(object, return address, destructor) returns the
// destructor to pass on in rax and the runtime's __cxa_throw in rdx.

#if defined(__x86_64__) && defined(__ELF__)

  .text
  .globl __cxa_throw
  .type __cxa_throw, @function
  .p2align 4
__cxa_throw:
  .cfi_startproc
  push %rdi
  .cfi_adjust_cfa_offset 8
  push %rsi
  .cfi_adjust_cfa_offset 8
  push %rdx
  .cfi_adjust_cfa_offset 8
  // rsp is 16-byte aligned here, as a call requires; the return address of
  // the throw expression's call sits above the three saved arguments.
  mov 24(%rsp), %rsi
  call ztl_RecordThrowEntry
  mov %rdx, %r11
  mov %rax, %rdx
  add $8, %rsp
  .cfi_adjust_cfa_offset -8
  pop %rsi
  .cfi_adjust_cfa_offset -8
  pop %rdi
  .cfi_adjust_cfa_offset -8
  jmp *%r11
  .cfi_endproc
  .size __cxa_throw, . - __cxa_throw

#endif

  .section .note.GNU-stack, "", @progbits
