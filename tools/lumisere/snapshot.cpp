#include "snapshot.h"

#include <memory>

#include "core/parameters.h"
#include "editor/editor_model.h"
#include "editor/panel.h"
#include "output_file.h"
#include "platform/cairo/cairo_canvas.h"

namespace lumisere::cli {

namespace {

// Throws FileError with a message that names the PNG.
void drawAndWrite(const std::string& outPng, bool replace, const editor::ValueEditorModel& model,
                  const std::atomic<bool>& stop) {
    const std::string problem = replaceProblem(outPng, replace);
    if (!problem.empty()) throw FileError(problem);
    platform::CairoCanvas canvas(editor::kEditorWidth, editor::kEditorHeight);
    if (!canvas.ok()) throw FileError(outPng + ": could not create a drawing surface");
    editor::paintEditor(canvas, canvas.width(), canvas.height(), model);
    std::unique_ptr<PendingFile> file;
    try {
        file = std::make_unique<PendingFile>(outPng);
    } catch (const FileError& e) {
        throw FileError(outPng + ": " + e.what());
    }
    if (!canvas.writePng(file->temporaryPath())) throw FileError(outPng + ": could not write the PNG");
    if (stop.load()) throw FileError(outPng + ": interrupted");
    file->commit(replace);
}

}  // namespace

int writeEditorSnapshot(const std::string& outPng, bool replace, const float params[9], float deEssDb, float gateDb,
                        const std::atomic<bool>& stop, std::string& error) {
    if (params == nullptr) {
        error = "snapshot: no parameter values given";
        return 2;
    }
    editor::ValueEditorModel model;
    for (int i = 0; i < kNumParams; ++i) model.setParam(i, params[i]);
    model.deEssDb = deEssDb;
    model.gateDb = gateDb;

    int result = 0;
    try {
        drawAndWrite(outPng, replace, model, stop);
    } catch (const FileError& e) {
        error = e.what();
        result = 1;
    }
    // The tool owns its process and draws nothing more: leave no font caches for leak checkers.
    platform::releaseProcessFontCaches();
    return result;
}

}  // namespace lumisere::cli
