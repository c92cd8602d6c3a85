#pragma once
// The launcher's progress window: a small always-on-top picture with a progress strip, and
// the job sequence that drives every stage of a run.
#include <cstdint>
#include <memory>
#include <string>

#include "host/dialog_host.h"
#include "host/image.h"
#include "startup/startup_file.h"

struct rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// Composes a picture off screen and copies it to the target in one operation when destroyed.
// When the memory surface cannot be made, drawing goes straight to the target.
class CMemoryDC {
public:
    CMemoryDC(host::canvas* target, rect area);
    virtual ~CMemoryDC();
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;
    host::canvas& dc();
    bool valid() const { return valid_; }

    // Tests only: the next surfaces cannot be created.
    static void simulate_allocation_failure(bool fail);

private:
    host::canvas* target_;
    bool valid_ = false;
    std::unique_ptr<host::image> memory_;
    rect area_;
};

class CQuorlaLauncherDlg : public host::dialog_events, public host::window {
public:
    static constexpr uintptr_t kStartTimer = 200;
    static constexpr int kWidth = 267, kHeight = 68;

    // `command_line`: the whole process command line, program path first.
    CQuorlaLauncherDlg(host::dialog_host& host, std::u16string command_line);
    ~CQuorlaLauncherDlg() override = default;

    int DoModal();
    // The job sequence: 1 on success, 0 on failure.
    virtual int RunJob(int prepareOnly);

    // Dialog handlers.
    bool OnInitDialog() override;
    void OnShowWindow(bool show) override;
    void OnTimer(uintptr_t id) override;
    bool PreTranslateMessage(int key) override;
    void OnPaint(host::canvas& target) override;
    bool OnEraseBkgnd() override { return false; }
    void OnSize(int width, int height) override;
    intptr_t OnMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override;

    // Drawing.
    void LoadPictures();
    void draw_progress(host::canvas& dc);
    void redraw_progress(bool force);
    // Tests only: forget the process-wide redraw time stamp.
    static void reset_redraw_stamp();

    // What the stages may do with the window.
    intptr_t send_message(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
    host::box_answer message_box(std::u16string_view text, std::u16string_view caption,
                                 host::box_style style) override;
    void* native_id() override;
    void shrink_and_center() override;

    const uint8_t* m_hIcon = nullptr;  // the application icon's PNG bytes
    size_t m_hIconSize = 0;
    host::image m_bmpBackground;
    host::image m_bmpProgress;
    int32_t m_progressDone = 0;
    int32_t m_progressTotal = 0;
    startup_file_xml m_startup;
    std::u16string m_workKey;
    std::u16string m_moduleFile;

protected:
    host::dialog_host& m_host;
    std::u16string m_commandLine;
};
