// The routine a hardware fault continues in (Linux x86-64).
//
// The fault handler leaves the interrupted thread's registers in a frame on
// the thread's own stack, below the red zone (FaultFrame.h gives its layout:
// rbp, faulting pc, rsp, then rax rdx rcx rbx rsi rdi r8 ... r15), and
// resumes the thread here with rdi, rsi, rdx and rcx holding the arguments
// of ztl_RaiseFault. The unwind
// information describes this frame as a signal frame: the unwinder takes the
// faulting pc as it is (not as a return address) and restores every register
// of the interrupted code from the frame, so that the exception raised here
// unwinds through the faulting function as if its instruction had thrown.

#include "FaultFrame.h"

// DWARF: register `reg` is saved at rsp + `off`.
.macro SAVED reg, off
  .if (\off) < 64
    .cfi_escape 0x10, \reg, 2, 0x77, (\off)
  .else
    .cfi_escape 0x10, \reg, 3, 0x77, ((\off) & 0x7f) | 0x80, (\off) >> 7
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
  .cfi_escape 0x0f, 3, 0x77, ZTL_FAULT_FRAME_RSP, 0x06
  SAVED 6, ZTL_FAULT_FRAME_RBP      // rbp
  SAVED 16, ZTL_FAULT_FRAME_PC      // return address column: the faulting pc
  SAVED 0, ZTL_FAULT_FRAME_REGS     // rax
  SAVED 1, ZTL_FAULT_FRAME_REGS+8   // rdx
  SAVED 2, ZTL_FAULT_FRAME_REGS+16  // rcx
  SAVED 3, ZTL_FAULT_FRAME_REGS+24  // rbx
  SAVED 4, ZTL_FAULT_FRAME_REGS+32  // rsi
  SAVED 5, ZTL_FAULT_FRAME_REGS+40  // rdi
  SAVED 8, ZTL_FAULT_FRAME_REGS+48
  SAVED 9, ZTL_FAULT_FRAME_REGS+56
  SAVED 10, ZTL_FAULT_FRAME_REGS+64
  SAVED 11, ZTL_FAULT_FRAME_REGS+72
  SAVED 12, ZTL_FAULT_FRAME_REGS+80
  SAVED 13, ZTL_FAULT_FRAME_REGS+88
  SAVED 14, ZTL_FAULT_FRAME_REGS+96
  SAVED 15, ZTL_FAULT_FRAME_REGS+104
  // A frame pointer chain through the faulting pc, for walkers that use it.
  mov %rsp, %rbp
  // rsp is 16-byte aligned here, as a call requires.
  call ztl_RaiseFault
  ud2
  .cfi_endproc
  .size ztl_FaultThunk, . - ztl_FaultThunk

  .section .note.GNU-stack, "", @progbits
