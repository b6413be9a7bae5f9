// PPD byte sources: I/O plug-ins (a file, a module resource) that deliver raw
// bytes, and byte streams that buffer them and hand out lines as wide text.
#pragma once

#include <windows.h>
#include <cstdint>

namespace PPDParser {

// Stream states and status words (GetStatus); the reader stops once the
// status differs from kIOReady.
enum : int { kStateOpen = 0, kStateOpening = 1, kStateClosed = 2 };
enum : int {
    kIOReady = 0,
    kIOInitial = 1,
    kIOClosedByOpen = 2,
    kIOOpenFailed = 3,
    kIOBusy = 4,
    kIOCloseFailed = 5,
    kIOFillFailed = 6,
    kIOEndOfData = 7,
    kIOLineTooLong = 8,
};

// Plug-in open modes.
enum : int { kModeWrite = 0, kModeRead = 1, kModeReadWrite = 2 };

// A source of raw bytes.
class CBaseIOPlugIn {
public:
    virtual ~CBaseIOPlugIn() = default;
    virtual bool Open(int mode) = 0;
    virtual bool Close() = 0;
    // Returns the bytes read; 0 at the end of data (last error ERROR_HANDLE_EOF) or on failure.
    virtual unsigned Read(void* buffer, unsigned bytes) = 0;
    virtual unsigned Write(const void* buffer, unsigned bytes) = 0;
    // Offset from the start of the source.
    virtual bool Seek(unsigned offset) = 0;
};

// A plug-in that can make another of its kind for another source name.
class CBaseFileIOPlugIn : public CBaseIOPlugIn {
public:
    // Returns a new plug-in (owned by the caller) for the name, or null.
    virtual CBaseFileIOPlugIn* Clone(const wchar_t* name, LANGID language) = 0;
    // Whether a source that does not open is an error for a top-level parse
    // (a PPD file) or just an absent optional input (an extension resource).
    virtual bool MissingSourceIsError() const { return true; }
};

// A Win32 file.
class CFileIOPlugIn : public CBaseFileIOPlugIn {
public:
    explicit CFileIOPlugIn(const wchar_t* name = nullptr);
    ~CFileIOPlugIn() override;
    CFileIOPlugIn(const CFileIOPlugIn&) = delete;
    CFileIOPlugIn& operator=(const CFileIOPlugIn&) = delete;

    bool Open(int mode) override;
    bool Close() override;
    unsigned Read(void* buffer, unsigned bytes) override;
    unsigned Write(const void* buffer, unsigned bytes) override;
    bool Seek(unsigned offset) override;
    CBaseFileIOPlugIn* Clone(const wchar_t* name, LANGID language) override;

    // Copies the name (refused, leaving no name, when it has MAX_PATH characters or more)
    // and marks the handle closed. Returns whether a name is held.
    virtual bool SetName(const wchar_t* name);
    // Closes the file and forgets the name.
    virtual void Reset();

    const wchar_t* GetName() const { return m_name[0] ? m_name : nullptr; }

private:
    wchar_t m_name[MAX_PATH] = {};
    HANDLE m_file = INVALID_HANDLE_VALUE;
};

class CMemIO;

// A resource of a module, read from a private copy of its bytes.
class CResIOPlugIn : public CBaseFileIOPlugIn {
public:
    // The module is loaded (as data) by this object when it is opened.
    CResIOPlugIn(const wchar_t* modulePath, const wchar_t* type, const wchar_t* name, LANGID language);
    // The module belongs to the caller and must outlive this object.
    CResIOPlugIn(HMODULE module, const wchar_t* type, const wchar_t* name, LANGID language);
    ~CResIOPlugIn() override;
    CResIOPlugIn(const CResIOPlugIn&) = delete;
    CResIOPlugIn& operator=(const CResIOPlugIn&) = delete;

    bool Open(int mode) override;
    bool Close() override;
    unsigned Read(void* buffer, unsigned bytes) override;
    unsigned Write(const void* buffer, unsigned bytes) override;
    bool Seek(unsigned offset) override;
    CBaseFileIOPlugIn* Clone(const wchar_t* name, LANGID language) override;
    bool MissingSourceIsError() const override { return false; }

    // Copies the texts (integer resource ids are kept as "#n"); the handle is
    // stored only when no path is given. Returns false when a text cannot be held.
    virtual bool Init(const wchar_t* modulePath, HMODULE module, const wchar_t* type, const wchar_t* name,
                      LANGID language);
    // Closes, frees the module when this object loaded it, and frees the texts.
    virtual void Reset();

    bool IsModuleLoaded() const { return m_module != nullptr; }

private:
    void FreeBytes();

    HMODULE m_module = nullptr;
    bool m_ownsModule = false;
    wchar_t* m_modulePath = nullptr;
    wchar_t* m_type = nullptr;
    wchar_t* m_name = nullptr;
    uint8_t* m_bytes = nullptr;
    CMemIO* m_mem = nullptr;
    LANGID m_language = 0;
};

// A buffered byte stream that hands out lines.
class CBaseIO {
public:
    CBaseIO() = default;
    CBaseIO(const CBaseIO&) = delete;
    CBaseIO& operator=(const CBaseIO&) = delete;

    virtual void SkipLineBreak();
    virtual void SetBuffer(char* buffer, unsigned capacity, unsigned used);
    virtual void ResetBuffer();
    virtual void Compact();
    virtual bool Fill() = 0;
    virtual ~CBaseIO() = default;
    virtual bool Seek(unsigned offset) = 0;
    // Reads one line of at most maxBytes - 1 bytes before its break into out
    // (outChars wide characters, terminated), converted with the code page; the
    // consumed break characters are part of the text. lineLength receives the
    // line's byte length without its break.
    virtual bool ReadLine(wchar_t* out, unsigned outChars, int maxBytes, int* lineLength, UINT codePage);
    // Raw bytes from the current position; count receives what was delivered.
    virtual bool Read(void* buffer, unsigned bytes, unsigned* count) = 0;

    // Wide characters (break and terminator not counted) the last successful ReadLine wrote.
    unsigned LastLineChars() const { return m_lastChars; }
    int GetStatus() const { return m_status; }
    int GetState() const { return m_state; }
    unsigned GetOffset() const { return m_offset; }
    bool AtEnd() const { return m_end != 0; }

protected:
    unsigned Buffered() const { return m_used - m_pos; }

    int m_state = kStateClosed;
    int m_status = kIOInitial;
    int m_end = 0;
    unsigned m_offset = 0;
    char* m_buffer = nullptr;
    unsigned m_capacity = 0;
    unsigned m_used = 0;
    unsigned m_pos = 0;
    unsigned m_lastChars = 0;
};

// A stream over a block already in memory (not owned, never written).
class CMemIO : public CBaseIO {
public:
    CMemIO(const void* block, unsigned size);
    bool Fill() override;
    bool Seek(unsigned offset) override;
    bool Read(void* buffer, unsigned bytes, unsigned* count) override;

private:
    const uint8_t* m_block;
    unsigned m_size;
    unsigned m_readPos = 0;
};

// A stream that reads through a plug-in (not owned) in chunks of 250 KB: most PPDs in
// one read, since every read is a trip into the kernel (several under Wine). The buffer
// comes from the parser's process-wide cache of chunks, so its pages are warm.
class CFunctIO : public CBaseIO {
public:
    static constexpr unsigned kBufferSize = 256000;

    explicit CFunctIO(CBaseIOPlugIn* plugIn);
    ~CFunctIO() override;

    bool Fill() override;
    bool Seek(unsigned offset) override;
    bool Read(void* buffer, unsigned bytes, unsigned* count) override;
    virtual bool Open();
    virtual bool Close();

private:
    CBaseIOPlugIn* m_plugIn;
    char* m_own = nullptr;
};

}  // namespace PPDParser
