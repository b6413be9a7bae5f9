// The call log a stand-in module keeps: one line per call, which the tests read through the
// module's "TestCallLog" export and clear through "TestResetLog" (see ModuleCallLog.h).
#pragma once

#include <mutex>
#include <string>

class StandInCallLog {
public:
    void Add(const std::string& line)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_text += line;
        m_text += '\n';
    }
    // The lines so far, valid until the next call (the export hands out a C string).
    const char* Snapshot()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_copy = m_text;
        return m_copy.c_str();
    }
    void Clear()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_text.clear();
    }

private:
    std::mutex m_lock;
    std::string m_text;
    std::string m_copy;
};
