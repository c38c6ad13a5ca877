// The trampolines of inherited-method hooks (x86_64 System V). Entry i is 16 bytes at
// kestrelSubstrateTrampolines + 16 * i: it puts i in r11 and jumps to the common part,
// which keeps every argument register (and al, the vector-register count of a variadic
// call), asks kestrelSubstrateTrampolineTarget(i) for the superclass's implementation,
// puts the registers back and jumps to it with the caller's stack untouched.
    .text
    .globl kestrelSubstrateTrampolines
    .hidden kestrelSubstrateTrampolines
    .p2align 4
kestrelSubstrateTrampolines:
    .set index, 0
    .rept 256
    .p2align 4
    endbr64
    movl $index, %r11d
    jmp kestrelSubstrateTrampolineCommon
    .set index, index + 1
    .endr

    .p2align 4
kestrelSubstrateTrampolineCommon:
    pushq %rbp
    movq %rsp, %rbp
    subq $208, %rsp
    movq %rdi, 0(%rsp)
    movq %rsi, 8(%rsp)
    movq %rdx, 16(%rsp)
    movq %rcx, 24(%rsp)
    movq %r8, 32(%rsp)
    movq %r9, 40(%rsp)
    movq %rax, 48(%rsp)
    movdqa %xmm0, 64(%rsp)
    movdqa %xmm1, 80(%rsp)
    movdqa %xmm2, 96(%rsp)
    movdqa %xmm3, 112(%rsp)
    movdqa %xmm4, 128(%rsp)
    movdqa %xmm5, 144(%rsp)
    movdqa %xmm6, 160(%rsp)
    movdqa %xmm7, 176(%rsp)
    movl %r11d, %edi
    call kestrelSubstrateTrampolineTarget
    movq %rax, %r11
    movq 0(%rsp), %rdi
    movq 8(%rsp), %rsi
    movq 16(%rsp), %rdx
    movq 24(%rsp), %rcx
    movq 32(%rsp), %r8
    movq 40(%rsp), %r9
    movq 48(%rsp), %rax
    movdqa 64(%rsp), %xmm0
    movdqa 80(%rsp), %xmm1
    movdqa 96(%rsp), %xmm2
    movdqa 112(%rsp), %xmm3
    movdqa 128(%rsp), %xmm4
    movdqa 144(%rsp), %xmm5
    movdqa 160(%rsp), %xmm6
    movdqa 176(%rsp), %xmm7
    leave
    jmp *%r11

    .section .note.GNU-stack,"",@progbits
