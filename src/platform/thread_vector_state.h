#pragma once

// A new thread may start with a copy of its creator's vector registers (Linux copies them on
// clone). When the creator had just run 256-bit AVX code that left the upper register halves
// in use (Qt's string hashing does, on the main thread, all the time), every plain SSE
// instruction of the new thread pays a transition penalty: audio code such as the Opus encoder
// or our own sample loops then runs two to ten times slower for the thread's whole life.
// Clearing the upper halves costs one instruction and is safe at any function boundary (the
// registers are not preserved across calls anyway).
namespace platform {

// Any thread, never blocks; one instruction, cheap enough for every audio buffer.
void clearUpperVectorState();

}  // namespace platform
