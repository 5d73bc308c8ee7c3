#include "rt/demangle.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Demangle, NamesAsWritten) {
  struct Case {
    const char* name;
    const char* symbol;
    std::string shown;
  };
  const Case cases[] = {
      {"nested function", "_ZN3app7CONVERTEPKciS1_iPfPKiPcPi", "app::CONVERT"},
      {"run-time entry", "_ZN2rt21for__issue_diagnosticEj", "rt::for__issue_diagnostic"},
      {"parameter back-references are skipped",
       "_ZN2rt18append_trace_frameEPcmmRKNS_10TraceFrameEb", "rt::append_trace_frame"},
      {"anonymous namespace left out", "_ZN4plat12_GLOBAL__N_18on_faultEiP9siginfo_tPv",
       "plat::on_fault"},
      {"unscoped function", "_Z7CONVERTv", "CONVERT"},
      {"internal linkage", "_ZL6helperi", "helper"},
      {"std prefix", "_ZNSt6vectorIiSaIiEE9push_backEOi", "std::vector<...>::push_back"},
      {"destructor", "_ZNSt10unique_ptrIN5recio12_GLOBAL__N_19ChainNodeEN2rt8VmDeleteEED1Ev",
       "std::unique_ptr<...>::~unique_ptr"},
      {"constructor", "_ZN2rt8VmBufferC2Em", "rt::VmBuffer::VmBuffer"},
      {"const member", "_ZNK5recio8FileName4viewEv", "recio::FileName::view"},
      {"lambda in a function", "_ZZN4plat11run_guardedEPFivEENKUlvE_clEv",
       "plat::run_guarded::{lambda}::operator()"},
      {"template function", "_ZN5recio9run_itemsIZNS_1fEvEUlvE_EEiv", "recio::run_items<...>"},
      {"ABI tag", "_ZN3app4nameB5cxx11Ev", "app::name"},
  };
  for (const Case& c : cases) {
    char out[128];
    EXPECT_EQ(std::string(rt::demangle_routine(c.symbol, out, sizeof out)), c.shown) << c.name;
  }
}

TEST(Demangle, WhatItDoesNotReadStaysAsItIs) {
  struct Case {
    const char* name;
    const char* symbol;
  };
  const Case cases[] = {
      {"C name", "__libc_start_main"},      {"start", "_start"},
      {"cut short", "_ZN3app7CONV"},        {"length beyond the text", "_ZN3app99CONVERTEv"},
      {"unknown component", "_ZN3app?EEv"}, {"substitution as prefix", "_ZNS_3fooEv"},
  };
  for (const Case& c : cases) {
    char out[128];
    EXPECT_EQ(rt::demangle_routine(c.symbol, out, sizeof out), c.symbol) << c.name;
  }
  char out[8];
  EXPECT_EQ(rt::demangle_routine(nullptr, out, sizeof out), nullptr);
}

TEST(Demangle, CutToTheBuffer) {
  char out[8];
  EXPECT_EQ(std::string(rt::demangle_routine("_ZN2rt21for__issue_diagnosticEj", out, sizeof out)),
            "rt::for");
}

}  // namespace
