#pragma once

// How the threads of the live audio path are set up to cost little.
namespace platform {

// A new thread may start with a copy of its creator's vector registers (Linux copies them on
// clone). When the creator had just run 256-bit AVX code that left the upper register halves
// in use (Qt's string hashing does, on the main thread, all the time), every plain SSE
// instruction of the new thread pays a transition penalty: audio code such as the Opus encoder
// or our own sample loops then runs two to ten times slower for the thread's whole life.
// Clearing the upper halves costs one instruction and is safe at any function boundary (the
// registers are not preserved across calls anyway).
// Any thread, never blocks; cheap enough for every audio buffer.
void clearUpperVectorState();

// Called on a pipeline's streaming thread as it starts its work, and as it ends it. Starting
// clears the vector state (above) and lets the thread stop preempting whoever wakes it: a
// capture thread that hands over a buffer goes on to its next one instead of being pushed off
// its processor by the thread it just woke (a context switch each, and a long feed call when
// the machine is busy). The streaming thread keeps its full share of the processor; it only
// waits for the waker to finish or for the next scheduler tick. Never blocks.
void enterStreamingThread();
void leaveStreamingThread();

}  // namespace platform
