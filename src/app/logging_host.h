// The log half of the front ends' hosts: both the window and the console keep the run's
// diagnostic log the same way, so they share this one implementation.
#pragma once

#include "log/log_file.h"
#include "update/update_host.h"

class RunLogFile : public RunLog {
 public:
  void StartLogSession(const char* logPath) override {
    m_log.SetPath(logPath);
    m_log.NewSessionId();
  }
  void WriteLog(const char* component, const char* operation, const char* text) override {
    // A failed log latches inside LogFile; the run goes on regardless.
    m_log.Write(component, operation, text);
  }

 private:
  LogFile m_log;
};
