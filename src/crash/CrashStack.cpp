// Capturing stacks (libgcc's unwinder into a fixed array: no allocation, usable in a signal
// handler once warmed up) and naming their frames (backward-cpp over libdw: function, file,
// line and inlined calls from the modules' debug information).

#include <dlfcn.h>
#include <unwind.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>

#include "CrashReport.h"
#include "CrashStackPrivate.h"

#define BACKWARD_HAS_DW 1
#include <backward.hpp>

namespace updater::crash {

namespace {

struct TUnwindState {
  TStack* stack;
  int skip;
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* data) {
  auto* state = static_cast<TUnwindState*>(data);
  const uintptr_t ip = _Unwind_GetIP(context);
  if (ip == 0) {
    return _URC_END_OF_STACK;
  }
  if (state->skip > 0) {
    --state->skip;
    return _URC_NO_REASON;
  }
  if (state->stack->count >= TStack::kMaxFrames) {
    return _URC_END_OF_STACK;
  }
  state->stack->frames[state->stack->count++] = reinterpret_cast<void*>(ip);
  return _URC_NO_REASON;
}

std::string Hex(uintptr_t value) {
  char text[2 + 16 + 1];
  std::snprintf(text, sizeof text, "0x%zx", static_cast<size_t>(value));
  return text;
}

std::string Location(const backward::ResolvedTrace::SourceLoc& source) {
  std::string text = source.function.empty() ? std::string("??") : source.function;
  if (!source.filename.empty()) {
    text += " at " + source.filename + ':' + std::to_string(source.line);
  }
  return text;
}

#if !UPDATER_CRASH_DISABLED
// The stack of the latest throw on each thread, and the object it threw.
thread_local TStack t_thrown;
thread_local void* t_thrown_object = nullptr;

// The object of the exception being handled. libstdc++'s exception_ptr is that one pointer.
void* CurrentExceptionObject() {
  static_assert(sizeof(std::exception_ptr) == sizeof(void*));
  const std::exception_ptr current = std::current_exception();
  void* object = nullptr;
  std::memcpy(&object, &current, sizeof object);
  return object;
}
#endif

}  // namespace

void CaptureStackInto(TStack& stack, int skip) {
  stack.count = 0;
  TUnwindState state{&stack, skip + 1};  // without this function's own frame
  _Unwind_Backtrace(&CollectFrame, &state);
}

TStack CaptureStack(int skip) {
  TStack stack;
  CaptureStackInto(stack, skip + 1);
  return stack;
}

TStack ThrownStack() {
#if UPDATER_CRASH_DISABLED
  return {};
#else
  // A throw that did not pass here (inside a library) would otherwise get an older stack.
  if (t_thrown_object == nullptr || t_thrown_object != CurrentExceptionObject()) {
    return {};
  }
  return t_thrown;
#endif
}

std::string DescribeFrames(void* const* frames, int count, bool first_is_exact) {
  backward::TraceResolver resolver;
  std::string text;
  for (int i = 0; i < count; ++i) {
    auto address = reinterpret_cast<uintptr_t>(frames[i]);
    // A return address may already belong to the next line, or the next function after a call
    // that does not return; the call itself is one byte before it.
    const bool exact = i == 0 && first_is_exact;
    const uintptr_t looked_up = exact ? address : address - 1;
    const backward::ResolvedTrace trace = resolver.resolve(backward::ResolvedTrace(
        backward::Trace(reinterpret_cast<void*>(looked_up), static_cast<size_t>(i))));
    std::string line = '#' + std::to_string(i) + ' ' + Hex(address) + " in ";
    // The innermost inlined call first, as a debugger lists them.
    for (auto inlined = trace.inliners.rbegin(); inlined != trace.inliners.rend(); ++inlined) {
      text += line + Location(*inlined) + " (inlined)\n";
      line = "   " + std::string(Hex(address).size() + 1, ' ') + "   ";
    }
    // The symbol table's name is the qualified one; the debug information's is the bare name.
    backward::ResolvedTrace::SourceLoc source = trace.source;
    if (!trace.object_function.empty()) {
      source.function = trace.object_function;
    }
    line += Location(source);
    if (!trace.object_filename.empty()) {
      line += " (" + trace.object_filename + ')';
    }
    text += line + '\n';
  }
  return text;
}

std::string DescribeStack(const TStack& stack, bool first_is_exact) {
  return DescribeFrames(stack.frames, stack.count, first_is_exact);
}

}  // namespace updater::crash

#if !UPDATER_CRASH_DISABLED
// Every throw that binds to this definition (the program's own code and the templates it
// instantiates) records its stack before the C++ runtime unwinds it, so that a catch block far
// away, or std::terminate after a noexcept boundary, can still say where it came from.
extern "C" {
void __cxa_throw(void* object, std::type_info* type, void (*destroy)(void*)) {
  using TThrow = void (*)(void*, std::type_info*, void (*)(void*));
  static const auto real_throw = reinterpret_cast<TThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
  if (real_throw == nullptr) {
    std::abort();  // a C++ runtime linked in statically: nothing to hand the throw to
  }
  updater::crash::CaptureStackInto(updater::crash::t_thrown, 1);
  updater::crash::t_thrown_object = object;
  real_throw(object, type, destroy);
  __builtin_unreachable();
}
}
#endif
