#pragma once

// Small helpers shared by the channel glue tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "channel/standard_method_codec.h"
#include "tests/channel/fake_embedding.h"

namespace glue_test {

inline const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::GetInstance();
}

// The bytes the interface sends for a method call; `arguments` null sends null arguments.
inline std::vector<uint8_t> EncodeCall(const std::string& method, std::unique_ptr<flutter::EncodableValue> arguments = nullptr) {
  flutter::MethodCall<flutter::EncodableValue> call(method, std::move(arguments));
  return *Codec().EncodeMethodCall(call);
}

inline std::vector<uint8_t> SuccessBytes(const flutter::EncodableValue* value) {
  return *Codec().EncodeSuccessEnvelope(value);
}

inline std::vector<uint8_t> ErrorBytes(const std::string& code, const std::string& message,
                                       const flutter::EncodableValue* details = nullptr) {
  return *Codec().EncodeErrorEnvelope(code, message, details);
}

// The bytes of one response, or a failure when there is not exactly one.
inline std::vector<uint8_t> OnlyResponseTo(int response_id) {
  std::vector<fake_embedding::Response> responses = fake_embedding::ResponsesTo(response_id);
  EXPECT_EQ(responses.size(), 1u) << "responses to message " << response_id;
  return responses.empty() ? std::vector<uint8_t>{0xEE} : responses.front().bytes;
}

// Every test starts with a clean fake and ends with every messenger reference given back and no
// broken promise towards the embedding. A messenger of a running engine is available to tests.
class FakeEmbeddingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_embedding::Reset();
    messenger_handle_ = fake_embedding::CreateMessenger();
  }

  void TearDown() override {
    EndEngine();
    EXPECT_EQ(fake_embedding::LiveMessengers(), 0) << "a messenger reference was never given back";
    EXPECT_EQ(fake_embedding::CallsWhileUnavailable(), 0) << "something reached the embedding after the engine ended";
    EXPECT_TRUE(fake_embedding::Violations().empty()) << fake_embedding::Violations().front();
  }

  // Ends the engine behind `messenger_handle_`; the handle may be freed by this (when nothing else
  // holds a reference), so it is forgotten.
  void EndEngine() {
    if (messenger_handle_ != nullptr) {
      fake_embedding::EndEngine(messenger_handle_);
      messenger_handle_ = nullptr;
    }
  }

  FlutterDesktopMessengerRef messenger_handle_ = nullptr;
};

}  // namespace glue_test
