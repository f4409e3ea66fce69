#include "linux_text.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <unistd.h>

namespace tevoli::frames {
namespace {

struct PixDestroy {
    void operator()(Pix* pix) const { pixDestroy(&pix); }
};

// Image decoders below Leptonica (libpng's default error handler, for one)
// print straight to standard error, which belongs to the host's protocol.
// The program is single-threaded, so pointing it elsewhere for one read is safe.
class QuietStandardError {
public:
    QuietStandardError() : saved_(::dup(STDERR_FILENO)) {
        const int null = saved_ >= 0 ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
        if (null >= 0) ::dup2(null, STDERR_FILENO), ::close(null);
    }
    ~QuietStandardError() {
        if (saved_ >= 0) ::dup2(saved_, STDERR_FILENO), ::close(saved_);
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int saved_;
};

Pix* readImage(const std::string& path) {
    QuietStandardError quiet;
    return pixRead(path.c_str());
}

// Tesseract asks OpenMP for several threads per layer; on a small machine they
// spin against each other and recognition gets slower, not faster. With no
// active parallel level allowed, every region runs on the calling thread.
// Looked up at run time: the library may be built without OpenMP.
void keepOpenMpToOneThread() {
    using SetLevels = void (*)(int);
    if (auto set = reinterpret_cast<SetLevels>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"))) set(0);
}

class TesseractRecognizer final : public TextRecognizer {
public:
    bool start(std::string& error) {
        // Diagnostics (resolution guesses, unreadable files) must stay off standard error.
        setMsgSeverity(L_SEVERITY_NONE);
        api_.SetVariable("debug_file", "/dev/null");
        if (api_.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
            error = "could not load the English model";
            return false;
        }
        // Whole-page layout analysis, as the command-line tool does.
        api_.SetPageSegMode(tesseract::PSM_AUTO);
        return true;
    }

    std::vector<std::string> recognizeLines(const std::string& path) override {
        std::vector<std::string> lines;
        std::unique_ptr<Pix, PixDestroy> image(readImage(path));
        if (!image) return lines;
        api_.SetImage(image.get());
        if (api_.Recognize(nullptr) == 0) {
            std::unique_ptr<tesseract::ResultIterator> it(api_.GetIterator());
            if (it && !it->Empty(tesseract::RIL_TEXTLINE)) {
                do {
                    std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                    if (text) appendLine(text.get(), lines);
                } while (it->Next(tesseract::RIL_TEXTLINE));
            }
        }
        api_.Clear();
        return lines;
    }

private:
    static void appendLine(std::string line, std::vector<std::string>& lines) {
        while (!line.empty() && line.back() == '\n') line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
    }

    tesseract::TessBaseAPI api_;
};

}  // namespace

std::unique_ptr<TextRecognizer> openTesseractRecognizer(std::string& error) {
    keepOpenMpToOneThread();
    auto recognizer = std::make_unique<TesseractRecognizer>();
    if (!recognizer->start(error)) return nullptr;
    return recognizer;
}

}  // namespace tevoli::frames
