# int ombrix_plugin_call_thunk(Body body, void* context)        (cdecl)
#
# Calls body(context) with an exception registration record of its own at the
# head of the thread's fs:[0] chain, so the handler sees everything the plug-in
# leaves unhandled. Returns 1; 0 when the handler unwound a foreign exception
# and resumed here through ombrix_plugin_call_resume.
#
# The frame, from the record upwards: previous record, handler, edi, esi, ebx,
# ebp (the thunk's ebp points at it), return address, body, context.
    .text
    .globl _ombrix_plugin_call_thunk
    .globl _ombrix_plugin_call_resume
    .def _ombrix_plugin_call_thunk; .scl 2; .type 32; .endef
_ombrix_plugin_call_thunk:
    .cfi_startproc
    pushl %ebp
    .cfi_def_cfa_offset 8
    .cfi_offset %ebp, -8
    movl %esp, %ebp
    .cfi_def_cfa_register %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    .cfi_offset %ebx, -12
    .cfi_offset %esi, -16
    .cfi_offset %edi, -20
    pushl $_ombrix_plugin_call_handler
    pushl %fs:0
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    addl $4, %esp
    movl $1, %eax
.Ldone:
    popl %ecx                       # the previous record heads the chain again
    movl %ecx, %fs:0
    addl $4, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    .cfi_def_cfa %esp, 4
    ret
    .cfi_endproc

# void ombrix_plugin_call_resume(void* record): called by the handler once
# RtlUnwind removed the plug-in's records; never returns to it.
    .def _ombrix_plugin_call_resume; .scl 2; .type 32; .endef
_ombrix_plugin_call_resume:
    movl 4(%esp), %esp
    leal 20(%esp), %ebp
    cld
    xorl %eax, %eax
    jmp .Ldone
