#include "snapshot.h"

#include "editor/editor_model.h"
#include "editor/panel.h"
#include "platform/cairo/cairo_canvas.h"
#include "plugin/parameters.h"

namespace lumisere::cli {

int writeEditorSnapshot(const std::string& outPng, const float params[9], float deEssDb, float gateDb,
                        std::string& error) {
    if (params == nullptr) {
        error = "snapshot: no parameter values given";
        return 2;
    }
    editor::ValueEditorModel model;
    for (int i = 0; i < kNumParams; ++i) model.setParam(i, params[i]);
    model.deEssDb = deEssDb;
    model.gateDb = gateDb;

    int result = 0;
    {
        platform::CairoCanvas canvas(editor::kEditorWidth, editor::kEditorHeight);
        if (!canvas.ok()) {
            error = "snapshot: could not create a drawing surface";
            result = 1;
        } else {
            editor::paintEditor(canvas, canvas.width(), canvas.height(), model);
            if (!canvas.writePng(outPng)) {
                error = "snapshot: could not write " + outPng;
                result = 1;
            }
        }
    }
    // The tool owns its process and draws nothing more: leave no font caches for leak checkers.
    platform::releaseProcessFontCaches();
    return result;
}

}  // namespace lumisere::cli
