// The guard around every two-way client call: a failed RPC call raises a structured exception
// (server gone, call failed, bad handle) that C++ cannot catch, so each call runs inside a
// small C routine that handles it and reports its code. Access violations, stack overflows,
// illegal instructions and breakpoints are not handled: they are faults of the caller.
// Nothing run under the guard may own an object with a destructor: on i686 the unwind
// skips the frames it leaves.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*RpcGuardedProc)(void* args);

// Runs proc(args). 1 when it returned; 0 when it raised a handled exception, whose code goes
// to *code (0 after a normal return; code may be null). A null proc gives 0 and code 0.
int RpcGuardedCall(RpcGuardedProc proc, void* args, unsigned long* code);

// 1 for the exception codes the guard lets pass.
int RpcGuardPassesThrough(unsigned long code);

#ifdef __cplusplus
}
#endif
