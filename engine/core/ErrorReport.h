#pragma once

#include <cstdint>

namespace rendova {

// The engine's one error routine. A recoverable defect in a document is
// reported here with its byte offset in the file (-1 when there is none), and
// the caller carries on with its fallback. It never fails and never stops the
// caller, and it writes nothing anywhere: conversion is silent. Any thread.
void reportError(int64_t position, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Test hook, not a feature: while a sink is installed, every report is
// formatted and handed to it. Install and remove it from one thread while no
// other thread uses the engine.
// How many reports were made so far in the process, so that a reader can tell
// whether a piece of work reported anything. Any thread.
uint64_t errorReportCount();

using ErrorSink = void (*)(void* context, int64_t position, const char* message);
void setErrorSink(ErrorSink sink, void* context);

}  // namespace rendova
