// Shared pieces of the engine tests.
#include "update/engine_fixture.h"

#include <filesystem>

#include "common/app_directory.h"
#include "common/files.h"
#include "update/hex_decoder.h"
#include "xml/xml_document.h"

std::string EncodeHex(const std::string& bytes) {
  std::string text(bytes.size() * 2, '\0');
  ::EncodeHex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &text[0]);
  return text;
}

std::string FileDocument(const std::string& bytes) {
  return "<?xml version=\"1.0\"?><documento><fichero>" + EncodeHex(bytes) +
         "</fichero></documento>";
}

std::string PatternBytes(std::size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<char>((i * 31 + seed + (i >> 8)) & 0xFF);
  }
  return bytes;
}

void EngineTest::SetUp() {
  ResetTestSettings();
  std::filesystem::create_directories(m_temp.Join("app"));
  SetTestSetting(kAppSettingsKey, kAppPathValue, MainExecutable());
}

void EngineTest::TearDown() { ResetTestSettings(); }

std::string EngineTest::AppDir() const { return m_temp.Join("app") + kDirectorySeparator; }

std::string EngineTest::ServeFile(const std::string& path, const std::string& bytes) {
  m_server.AddFile(path, FileDocument(bytes));
  return m_server.Url(path);
}

void EngineTest::ServeManifest(const std::string& xml) {
  m_server.AddFile("/manifest.xml", xml);
  SetTestSetting(kAppSettingsKey, kManifestUrlValue, m_server.Url("/manifest.xml"));
}

void EngineTest::LoadManifest(XmlDocument& manifest, const std::string& xml) {
  m_server.AddFile("/loaded-manifest.xml", xml);
  ASSERT_TRUE(manifest.Load(m_server.Url("/loaded-manifest.xml").c_str(), true));
}

std::string EngineTest::ReadFile(const std::string& path) const {
  std::string bytes;
  return ReadWholeFile(path, bytes) ? bytes : std::string("<missing>");
}
