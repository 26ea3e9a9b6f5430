# int ombrix_plugin_call_thunk(Body body, void* context)
#
# Calls body(context) in a frame whose exception handler sees everything the
# plug-in leaves unhandled. Returns 1; 0 when the handler unwound a foreign
# exception back to ombrix_plugin_call_resume. No nonvolatile register is
# touched, so the unwinder restores the caller's values on that road too.
    .text
    .globl ombrix_plugin_call_thunk
    .globl ombrix_plugin_call_resume
    .def ombrix_plugin_call_thunk; .scl 2; .type 32; .endef
    .seh_proc ombrix_plugin_call_thunk
    .seh_handler ombrix_plugin_call_handler, @except, @unwind
ombrix_plugin_call_thunk:
    subq $40, %rsp                  # home space for the callee, and 16-byte alignment
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    movl $1, %eax
    jmp 1f
ombrix_plugin_call_resume:          # rsp is the frame after the prologue, rax is 0
    nop
1:
    addq $40, %rsp
    ret
    .seh_endproc
