// The routine a hardware fault continues in (Linux x86-64).
//
// The fault handler leaves the interrupted thread's registers in a frame on
// the thread's own stack, below the red zone, and resumes the thread here:
//
//   rsp+0    rbp           rsp+24   rax        rsp+56   rsi
//   rsp+8    faulting pc   rsp+32   rdx        rsp+64   rdi
//   rsp+16   rsp           rsp+40   rcx        rsp+72   r8 ... rsp+128 r15
//                          rsp+48   rbx
//
// with rdi, rsi and rdx holding the arguments of ztl_RaiseFault. The unwind
// information describes this frame as a signal frame: the unwinder takes the
// faulting pc as it is (not as a return address) and restores every register
// of the interrupted code from the frame, so that the exception raised here
// unwinds through the faulting function as if its instruction had thrown.

// DWARF: register `reg` is saved at rsp + `off`.
.macro SAVED reg, off
  .if \off < 64
    .cfi_escape 0x10, \reg, 2, 0x77, \off
  .else
    .cfi_escape 0x10, \reg, 3, 0x77, (\off & 0x7f) | 0x80, \off >> 7
  .endif
.endm

  .text
  .globl ztl_FaultThunk
  .hidden ztl_FaultThunk
  .type ztl_FaultThunk, @function
  .p2align 4
ztl_FaultThunk:
  .cfi_startproc simple
  .cfi_signal_frame
  // CFA = the interrupted rsp, kept at rsp+16.
  .cfi_escape 0x0f, 3, 0x77, 16, 0x06
  SAVED 6, 0      // rbp
  SAVED 16, 8     // return address column: the faulting pc
  SAVED 0, 24     // rax
  SAVED 1, 32     // rdx
  SAVED 2, 40     // rcx
  SAVED 3, 48     // rbx
  SAVED 4, 56     // rsi
  SAVED 5, 64     // rdi
  SAVED 8, 72
  SAVED 9, 80
  SAVED 10, 88
  SAVED 11, 96
  SAVED 12, 104
  SAVED 13, 112
  SAVED 14, 120
  SAVED 15, 128
  // A frame pointer chain through the faulting pc, for walkers that use it.
  mov %rsp, %rbp
  // rsp is 16-byte aligned here, as a call requires.
  call ztl_RaiseFault
  ud2
  .cfi_endproc
  .size ztl_FaultThunk, . - ztl_FaultThunk

  .section .note.GNU-stack, "", @progbits
