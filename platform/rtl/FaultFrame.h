/* The register frame that the fault handler leaves on the faulting thread's
 * stack for ztl_FaultThunk (x86-64 Linux). Shared by FaultThunk.S, whose
 * unwind information describes the frame, and the handler that fills it, so
 * the two cannot drift apart. Plain macros: the assembler reads them too. */
#ifndef ZTL_PLATFORM_RTL_FAULTFRAME_H
#define ZTL_PLATFORM_RTL_FAULTFRAME_H

#if !defined(__x86_64__) || !defined(__linux__)
#error "Hardware faults become exceptions on x86-64 Linux only: port FaultThunk.S and the fault handler first"
#endif

/* Byte offsets from the thunk's stack pointer. */
#define ZTL_FAULT_FRAME_RBP 0
#define ZTL_FAULT_FRAME_PC 8  /* the faulting pc, the frame's return address */
#define ZTL_FAULT_FRAME_RSP 16 /* the interrupted stack pointer: the CFA */
/* Then rax, rdx, rcx, rbx, rsi, rdi, r8 ... r15, eight bytes each. */
#define ZTL_FAULT_FRAME_REGS 24
#define ZTL_FAULT_FRAME_REG_COUNT 14
/* The whole frame, a multiple of 16 so that the thunk's calls are aligned. */
#define ZTL_FAULT_FRAME_SIZE 144

#endif
