/* int callMeasuringStack(void* function, const unsigned* arguments, int count,
 *                        int* drift)
 * Pushes the arguments (last first), calls the function and stores in *drift
 * how far the stack pointer after the call lies from where it was before the
 * pushes: 0 when the function removed exactly its arguments (__stdcall).
 * Returns the function's result. The stack is put right whatever happened. */
    .text
    .globl _callMeasuringStack
_callMeasuringStack:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi          /* callee-saved: survives the call */
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  call *8(%ebp)
    movl %esp, %ecx
    subl %edi, %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %edi, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
