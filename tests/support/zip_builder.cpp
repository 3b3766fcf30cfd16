// In-memory zip archives and minimal packages for the readers' tests.
#include "tests/support/zip_builder.h"

#include <zip.h>

#include <cstdio>
#include <stdexcept>

namespace quorvel::testing {

Bytes BuildZip(const std::vector<ZipMember>& members) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (buffer == nullptr) throw std::runtime_error("zip buffer");
  zip_source_keep(buffer);  // the archive's close must leave the written bytes to us
  zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  if (archive == nullptr) throw std::runtime_error("zip open");
  for (const ZipMember& member : members) {
    zip_source_t* data = zip_source_buffer(archive, member.data.data(), member.data.size(), 0);
    const zip_int64_t index =
        zip_file_add(archive, member.name.c_str(), data, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) throw std::runtime_error("zip add " + member.name);
    if (member.stored)
      zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
  }
  if (zip_close(archive) != 0) throw std::runtime_error("zip close");
  zip_error_fini(&error);

  Bytes out;
  if (zip_source_open(buffer) != 0) throw std::runtime_error("zip reopen");
  zip_source_seek(buffer, 0, SEEK_END);
  out.resize(static_cast<std::size_t>(zip_source_tell(buffer)));
  zip_source_seek(buffer, 0, SEEK_SET);
  zip_source_read(buffer, out.data(), out.size());
  zip_source_close(buffer);
  zip_source_free(buffer);
  return out;
}

std::string WorksheetXml(const std::string& rows) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
         "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
         "<sheetData>" +
         rows + "</sheetData></worksheet>";
}

Bytes MinimalXlsx(const std::vector<std::string>& sheetXmls, const std::string& sharedStringsXml,
                  const std::string& workbookPr) {
  const std::string relNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  std::string sheets;
  std::string rels =
      "<?xml version=\"1.0\"?><Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  std::vector<ZipMember> members;
  members.push_back({"[Content_Types].xml",
                     "<?xml version=\"1.0\"?><Types "
                     "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                     "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>"});
  members.push_back({"_rels/.rels",
                     "<?xml version=\"1.0\"?><Relationships "
                     "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                     "<Relationship Id=\"rId1\" Type=\"" +
                         relNs +
                         "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                         "</Relationships>"});
  for (std::size_t i = 0; i < sheetXmls.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    sheets += "<sheet name=\"Sheet" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + relNs +
            "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    members.push_back({"xl/worksheets/sheet" + n + ".xml", sheetXmls[i]});
  }
  if (!sharedStringsXml.empty()) {
    rels += "<Relationship Id=\"rIdS\" Type=\"" + relNs +
            "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    members.push_back({"xl/sharedStrings.xml", sharedStringsXml});
  }
  rels += "</Relationships>";
  members.push_back({"xl/_rels/workbook.xml.rels", rels});
  members.push_back({"xl/workbook.xml",
                     "<?xml version=\"1.0\"?><workbook "
                     "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                     "xmlns:r=\"" +
                         relNs + "\">" + workbookPr + "<sheets>" + sheets +
                         "</sheets></workbook>"});
  return BuildZip(members);
}

Bytes MinimalOds(const std::string& tables, const std::string& beforeTables) {
  const std::string content =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
      "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\" "
      "office:version=\"1.3\">"
      "<office:body><office:spreadsheet>" +
      beforeTables + tables + "</office:spreadsheet></office:body></office:document-content>";
  return BuildZip({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", true},
                   {"META-INF/manifest.xml", "<?xml version=\"1.0\"?><manifest/>"},
                   {"content.xml", content}});
}

}  // namespace quorvel::testing
