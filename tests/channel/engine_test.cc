// The engine, view controller, plugin registrar and texture wrappers over the embedding.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "channel/event_channel.h"
#include "channel/event_stream_handler_functions.h"
#include "channel/flutter_engine.h"
#include "channel/flutter_view_controller.h"
#include "channel/method_channel.h"
#include "channel/plugin_registrar.h"
#include "channel/texture_registrar.h"
#include "tests/channel/fake_embedding.h"
#include "tests/channel/glue_test_support.h"

namespace {

using flutter::EncodableValue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_embedding::Reset(); }

  void TearDown() override {
    EXPECT_EQ(fake_embedding::LiveEngines(), 0) << "an engine was never ended";
    EXPECT_EQ(fake_embedding::LiveMessengers(), 0) << "a messenger reference was never given back";
    EXPECT_EQ(fake_embedding::CallsWhileUnavailable(), 0);
    EXPECT_TRUE(fake_embedding::Violations().empty()) << fake_embedding::Violations().front();
  }

  static flutter::EngineProject DataProject() {
    flutter::EngineProject project;
    project.assets_path = L"data\\flutter_assets";
    project.icu_data_path = L"data\\icudtl.dat";
    project.aot_library_path = L"data\\app.so";
    return project;
  }
};

struct ArgumentsCase {
  const char* name;
  std::vector<std::string> arguments;
};

class EnginePropertiesTest : public EngineTest, public ::testing::WithParamInterface<ArgumentsCase> {};

TEST_P(EnginePropertiesTest, ProjectBecomesThePropertiesRecord) {
  flutter::EngineProject project = DataProject();
  project.dart_entrypoint_arguments = GetParam().arguments;
  project.gpu_preference = 2;
  project.platform_thread_priority = 3;

  { flutter::FlutterEngine engine(project); }

  std::vector<fake_embedding::EngineCreation> creations = fake_embedding::EngineCreations();
  ASSERT_EQ(creations.size(), 1u);
  const fake_embedding::EngineCreation& creation = creations[0];
  EXPECT_EQ(creation.assets_path, L"data\\flutter_assets");
  EXPECT_EQ(creation.icu_data_path, L"data\\icudtl.dat");
  EXPECT_EQ(creation.aot_library_path, L"data\\app.so");
  EXPECT_FALSE(creation.entrypoint_is_null) << "the default entry point is an empty string, never null";
  EXPECT_EQ(creation.dart_entrypoint, "");
  EXPECT_EQ(creation.argument_count, static_cast<int>(GetParam().arguments.size()));
  EXPECT_EQ(creation.argument_array_is_null, GetParam().arguments.empty());
  EXPECT_EQ(creation.arguments, GetParam().arguments);
  EXPECT_EQ(creation.gpu_preference, 2);
  EXPECT_EQ(creation.platform_thread_priority, 3);
  EXPECT_EQ(fake_embedding::EngineDestroyCalls(), 1) << "an engine object that still owns its engine ends it";
}

INSTANTIATE_TEST_SUITE_P(Arguments, EnginePropertiesTest,
                         ::testing::Values(ArgumentsCase{"None", {}},
                                           ArgumentsCase{"Several", {"--verbose", "C:\\Users\\Zoë", ""}}),
                         [](const ::testing::TestParamInfo<ArgumentsCase>& info) { return info.param.name; });

TEST_F(EngineTest, EngineThatFailedToStartHasNoRegistrars) {
  fake_embedding::SetEngineCreationFails(true);
  flutter::FlutterEngine engine(DataProject());

  testing::internal::CaptureStderr();
  EXPECT_EQ(engine.GetRegistrarForPlugin("PelmoraPlugin"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cannot get plugin registrar on an engine that isn't running; call Run first.\n");
  // Its messenger exists and drops what it is given.
  const uint8_t message[] = {1};
  engine.messenger()->Send("anywhere", message, sizeof(message));
  EXPECT_THAT(fake_embedding::Sends(), IsEmpty());
}

TEST_F(EngineTest, ViewControllerOwnsTheEngineFromCreationOn) {
  {
    flutter::FlutterViewController controller(1280, 800, DataProject());
    ASSERT_NE(controller.view(), nullptr);
    EXPECT_EQ(controller.view()->GetNativeWindow(), fake_embedding::ViewWindow());
    EXPECT_EQ(fake_embedding::LiveEngines(), 1);
  }
  EXPECT_EQ(fake_embedding::ViewControllerDestroyCalls(), 1);
  EXPECT_EQ(fake_embedding::EngineDestroyCalls(), 0) << "the relinquished engine is the controller's to end";
}

TEST_F(EngineTest, FailedViewControllerHasNoView) {
  fake_embedding::SetViewControllerCreationFails(true);

  testing::internal::CaptureStderr();
  flutter::FlutterViewController controller(1280, 800, DataProject());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");

  EXPECT_EQ(controller.view(), nullptr);
  EXPECT_NE(controller.engine(), nullptr);
  controller.ForceRedraw();
  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, 0x0005, 0, 0), std::nullopt);
  EXPECT_EQ(fake_embedding::ForceRedrawCalls(), 0);
}

TEST_F(EngineTest, ViewControllerWithoutEngineFailsTheSameWay) {
  fake_embedding::SetEngineCreationFails(true);

  testing::internal::CaptureStderr();
  flutter::FlutterViewController controller(1280, 800, DataProject());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
  EXPECT_EQ(controller.view(), nullptr);
}

TEST_F(EngineTest, TopLevelWindowMessagesGoToTheEmbeddingFirst) {
  constexpr UINT kConsumed = 0x02E0;
  fake_embedding::SetConsumedWindowMessage(kConsumed, 77);
  flutter::FlutterViewController controller(1280, 800, DataProject());

  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, kConsumed, 0, 0), std::optional<LRESULT>(77));
  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, kConsumed + 1, 0, 0), std::nullopt);

  controller.ForceRedraw();
  controller.engine()->ReloadSystemFonts();
  EXPECT_EQ(fake_embedding::ForceRedrawCalls(), 1);
  EXPECT_EQ(fake_embedding::ReloadSystemFontsCalls(), 1);
}

TEST_F(EngineTest, NextFrameCallbackRunsOnceAndIsThenReleased) {
  flutter::FlutterViewController controller(1280, 800, DataProject());
  auto captured = std::make_shared<int>(0);
  int calls = 0;
  controller.engine()->SetNextFrameCallback([captured, &calls] { ++calls; });

  fake_embedding::DrawFrame(fake_embedding::LastEngine());
  fake_embedding::DrawFrame(fake_embedding::LastEngine());

  EXPECT_EQ(calls, 1);
  EXPECT_EQ(captured.use_count(), 1) << "the callback is cleared once it has run";
}

// A plugin that uses its registrar's messenger while it is destroyed, as a plugin unregistering
// its channel does, and records that it went.
class ChannelPlugin : public flutter::Plugin {
 public:
  ChannelPlugin(flutter::PluginRegistrar* registrar, std::vector<std::string>* log)
      : channel_(registrar->messenger(), "plugin/channel", &glue_test::Codec()), log_(log) {
    channel_.SetMethodCallHandler(
        [](const flutter::MethodCall<EncodableValue>&, std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
          result->Success();
        });
  }
  ~ChannelPlugin() override {
    channel_.SetMethodCallHandler(nullptr);
    log_->push_back("plugin destroyed");
  }

 private:
  flutter::MethodChannel<EncodableValue> channel_;
  std::vector<std::string>* log_;
};

TEST_F(EngineTest, RegistrarKeepsPluginsAliveAndDestroysThemBeforeItsMessenger) {
  flutter::FlutterViewController controller(1280, 800, DataProject());
  FlutterDesktopPluginRegistrarRef handle = controller.engine()->GetRegistrarForPlugin("PelmoraPlugin");
  std::vector<std::string> log;
  auto registrar = std::make_unique<flutter::PluginRegistrarWindows>(handle);
  ASSERT_NE(registrar->GetView(), nullptr);
  EXPECT_EQ(registrar->GetView()->GetNativeWindow(), fake_embedding::ViewWindow());
  registrar->AddPlugin(std::make_unique<ChannelPlugin>(registrar.get(), &log));
  FlutterDesktopMessengerRef engine_messenger = FlutterDesktopEngineGetMessenger(fake_embedding::LastEngine());

  int response_id = fake_embedding::Deliver(engine_messenger, "plugin/channel", glue_test::EncodeCall("ping"));
  EXPECT_EQ(glue_test::OnlyResponseTo(response_id), (std::vector<uint8_t>{0x00, 0x00}));
  EXPECT_THAT(log, IsEmpty());

  registrar.reset();

  EXPECT_THAT(log, ElementsAre("plugin destroyed"));
  fake_embedding::Registration last = fake_embedding::Registrations().back();
  EXPECT_EQ(last.channel, "plugin/channel");
  EXPECT_EQ(last.callback, nullptr) << "the plugin reached the messenger while it was destroyed";
}

TEST_F(EngineTest, RegistrarWithoutViewHasNone) {
  flutter::FlutterEngine engine(DataProject());
  flutter::PluginRegistrarWindows registrar(engine.GetRegistrarForPlugin("Headless"));
  EXPECT_EQ(registrar.GetView(), nullptr);
}

TEST_F(EngineTest, ClearPluginsDestroysThemAtOnce) {
  flutter::FlutterEngine engine(DataProject());
  flutter::PluginRegistrar registrar(engine.GetRegistrarForPlugin("PelmoraPlugin"));
  std::vector<std::string> log;
  registrar.AddPlugin(std::make_unique<ChannelPlugin>(&registrar, &log));
  registrar.AddPlugin(std::make_unique<ChannelPlugin>(&registrar, &log));

  registrar.ClearPlugins();

  EXPECT_THAT(log, ElementsAre("plugin destroyed", "plugin destroyed"));
}

// The shut-down order of the host: the view controller (and with it the engine) goes first while a
// scan still holds the event sink; the registrar and the plugin go later.
TEST_F(EngineTest, EventsOfASinkThatOutlivesTheEngineAreDropped) {
  auto controller = std::make_unique<flutter::FlutterViewController>(1280, 800, DataProject());
  auto registrar =
      std::make_unique<flutter::PluginRegistrarWindows>(controller->engine()->GetRegistrarForPlugin("PelmoraPlugin"));
  flutter::EventChannel<EncodableValue> channel(registrar->messenger(), "com.pelmora.app/scan", &glue_test::Codec());
  std::unique_ptr<flutter::EventSink<EncodableValue>> sink;
  channel.SetStreamHandler(std::make_unique<flutter::StreamHandlerFunctions<EncodableValue>>(
      [&](const EncodableValue*, std::unique_ptr<flutter::EventSink<EncodableValue>>&& events) {
        sink = std::move(events);
        return nullptr;
      },
      nullptr));
  fake_embedding::Deliver(FlutterDesktopEngineGetMessenger(fake_embedding::LastEngine()), "com.pelmora.app/scan",
                          glue_test::EncodeCall("listen"));
  ASSERT_NE(sink, nullptr);
  sink->Success(EncodableValue("started"));

  controller.reset();
  sink->Success(EncodableValue("batch"));
  registrar.reset();
  sink->Success(EncodableValue("completed"));
  sink.reset();

  EXPECT_EQ(fake_embedding::Sends().size(), 1u);
}

TEST_F(EngineTest, TexturesAreDescribedByKind) {
  flutter::FlutterEngine engine(DataProject());
  flutter::PluginRegistrar registrar(engine.GetRegistrarForPlugin("Textures"));
  flutter::TextureRegistrar* textures = registrar.texture_registrar();
  FlutterDesktopPixelBuffer buffer = {};
  FlutterDesktopGpuSurfaceDescriptor descriptor = {};
  flutter::TextureVariant pixels(flutter::PixelBufferTexture([&](size_t, size_t) { return &buffer; }));
  flutter::TextureVariant surface(flutter::GpuSurfaceTexture(4, [&](size_t, size_t) { return &descriptor; }));
  flutter::TextureVariant unknown;

  int64_t pixels_id = textures->RegisterTexture(&pixels);
  int64_t surface_id = textures->RegisterTexture(&surface);
  testing::internal::CaptureStderr();
  int64_t unknown_id = textures->RegisterTexture(&unknown);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Attempting to register unknown texture variant.\n");

  EXPECT_EQ(unknown_id, -1);
  std::vector<fake_embedding::TextureRegistration> registrations = fake_embedding::TextureRegistrations();
  ASSERT_EQ(registrations.size(), 2u);
  EXPECT_EQ(registrations[0].texture_id, pixels_id);
  const FlutterDesktopTextureInfo& pixel_info = registrations[0].info;
  EXPECT_EQ(pixel_info.type, kFlutterDesktopPixelBufferTexture);
  EXPECT_EQ(pixel_info.pixel_buffer_config.callback(8, 8, pixel_info.pixel_buffer_config.user_data), &buffer);

  EXPECT_EQ(registrations[1].texture_id, surface_id);
  const FlutterDesktopTextureInfo& surface_info = registrations[1].info;
  EXPECT_EQ(surface_info.type, kFlutterDesktopGpuSurfaceTexture);
  EXPECT_EQ(surface_info.gpu_surface_config.struct_size, sizeof(FlutterDesktopGpuSurfaceTextureConfig));
  if (sizeof(void*) == 8) {
    EXPECT_EQ(surface_info.gpu_surface_config.struct_size, 32u);
  }
  EXPECT_EQ(surface_info.gpu_surface_config.type, 4);
  EXPECT_EQ(surface_info.gpu_surface_config.callback(8, 8, surface_info.gpu_surface_config.user_data), &descriptor);
}

TEST_F(EngineTest, TextureFramesAndUnregistration) {
  flutter::FlutterEngine engine(DataProject());
  flutter::PluginRegistrar registrar(engine.GetRegistrarForPlugin("Textures"));
  flutter::TextureRegistrar* textures = registrar.texture_registrar();
  int callbacks = 0;

  EXPECT_TRUE(textures->MarkTextureFrameAvailable(3));
  EXPECT_TRUE(textures->UnregisterTexture(3));
  textures->UnregisterTexture(4, [&] { ++callbacks; });
  textures->UnregisterTexture(5, nullptr);

  EXPECT_THAT(fake_embedding::FramesMarkedAvailable(), ElementsAre(3));
  std::vector<fake_embedding::TextureUnregistration> unregistrations = fake_embedding::TextureUnregistrations();
  ASSERT_EQ(unregistrations.size(), 3u);
  EXPECT_FALSE(unregistrations[0].had_callback);
  EXPECT_TRUE(unregistrations[1].had_callback);
  EXPECT_FALSE(unregistrations[2].had_callback);
  EXPECT_EQ(callbacks, 1);
}

}  // namespace
