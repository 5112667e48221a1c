#pragma once

#include <memory>
#include <optional>

#include "channel/flutter_embedding.h"
#include "channel/flutter_engine.h"
#include "channel/flutter_view.h"

namespace flutter {

// Creates the engine for a project, hands it to the embedding's view controller (which starts it)
// and owns the result; destroying this object ends the view and the engine. Platform thread only.
class FlutterViewController {
 public:
  // When the embedding refuses the view controller (for example because the engine could not be
  // created), a report is written and the object has no view.
  FlutterViewController(int width, int height, const EngineProject& project);
  ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* engine() const { return engine_.get(); }
  // Null when creation failed.
  FlutterView* view() const { return view_.get(); }

  void ForceRedraw();

  // Offers a message of the top-level window to the embedding: its answer when it consumed the
  // message, no value otherwise.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  std::shared_ptr<FlutterEngine> engine_;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter
