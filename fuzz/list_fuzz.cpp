// fuzz_list: arbitrary bytes as a list file, read line by line, value by value and as a
// whole, with every value also taken apart by the field and number helpers.
//
// Each result is compared with a plain std::string reading of the same bytes written here
// from the format's rules (and the line split with datapack's own SplitListLines), and every
// buffer the core writes into is a heap block of exactly its documented size, so that a
// write past it is caught. A loop that does not end is caught by libFuzzer's -timeout.
#include <ctype.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_util.h"
#include "listcheck.h"
#include "listfile.h"

FUZZ_DEFINE_SANITIZER_DEFAULTS

namespace {

// One line as the format reads it from `begin`.
struct RefLine {
  bool readable;     // ended by CR or LF and at most LIST_LINE_MAX characters
  std::string text;  // the characters before the ending
  size_t ending;     // offset of the CR or LF (valid when readable)
  size_t next;       // where the following line begins (valid when readable)
};

RefLine ReferenceLine(const uint8_t* data, size_t size, size_t begin) {
  RefLine l{false, "", 0, 0};
  size_t end = begin;
  while (end < size && data[end] != '\r' && data[end] != '\n') end++;
  if (end == size || end - begin > LIST_LINE_MAX) return l;
  l.readable = true;
  l.text.assign((const char*)data + begin, end - begin);
  l.ending = end;
  const uint8_t partner = data[end] == '\r' ? '\n' : '\r';
  l.next = end + 1 < size && data[end + 1] == partner ? end + 2 : end + 1;
  return l;
}

// The line as the C string the core keeps: up to its first NUL byte.
std::string CString(const std::string& s) { return std::string(s.c_str()); }

// CON, PRN, AUX, NUL, CLOCK$, CONIN$, CONOUT$, COM1-9 and LPT1-9 (the digit also one of the
// superscripts 1, 2, 3 of code page 1252) in any case, before the first dot, once trailing
// dots and spaces, and spaces before the dot, are dropped.
bool ReferenceDevice(std::string n) {
  n.erase(n.find_last_not_of(" .") + 1);
  n = n.substr(0, n.find('.'));
  n.erase(n.find_last_not_of(' ') + 1);
  for (char& c : n) c = (char)toupper((unsigned char)c);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"})
    if (n == device) return true;
  const unsigned char digit = n.size() == 4 ? (unsigned char)n[3] : 0;
  return n.size() == 4 && (n.compare(0, 3, "COM") == 0 || n.compare(0, 3, "LPT") == 0) &&
         ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

bool ReferencePlain(const std::string& n) {
  return !n.empty() && n != "." && n != ".." && n.find_first_of("\\/:") == std::string::npos &&
         !ReferenceDevice(n);
}

// Second comma-separated field, cut at its first space; false where the core refuses it.
bool ReferenceName(const std::string& value, std::string& name) {
  size_t c1 = value.find(',');
  if ((c1 == std::string::npos ? value.size() : c1) > LIST_FIELD_MAX) return false;
  std::string rest = c1 == std::string::npos ? "" : value.substr(c1 + 1);
  std::string field = rest.substr(0, rest.find(','));
  if (field.size() > LIST_FIELD_MAX) return false;
  name = field.substr(0, field.find(' '));
  return name.size() <= SUPPORT_NAME_MAX && (name.empty() || ReferencePlain(name));
}

uint32_t ReferenceNumber(const std::string& v) {
  size_t i = v.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string::npos) return 0;
  bool negative = v[i] == '-';
  if (v[i] == '+' || v[i] == '-') i++;
  uint64_t n = 0;  // kept below 2^32: only the value modulo 2^32 counts
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; i++)
    n = (n * 10 + (uint64_t)(v[i] - '0')) & 0xFFFFFFFFu;
  return negative ? (uint32_t)(0u - (uint32_t)n) : (uint32_t)n;
}

// The value helpers on one value: numbers, fields, names, character search.
void CheckValue(const std::string& value, uint8_t probe) {
  FUZZ_CHECK(ParseListNumber(value.c_str()) == ReferenceNumber(value), "number of \"%s\"",
             value.c_str());
  FUZZ_CHECK(IsPlainFileName(value.c_str()) == (int)ReferencePlain(value), "plain \"%s\"",
             value.c_str());
  for (int from_end = 0; from_end < 2; from_end++) {
    const char c = (char)probe;
    size_t at = from_end ? value.rfind(c) : value.find(c);
    int expected = c == '\0' || at == std::string::npos ? -1 : (int)at;
    FUZZ_CHECK(FindChar(value.c_str(), c, from_end) == expected, "FindChar 0x%02x", probe);
  }

  // SplitField into a 28-byte field from a rest exactly as long as the value.
  ExactCopy rest(value.c_str(), value.size() + 1);
  ExactCopy field(LIST_FIELD_SIZE, 'X');
  const size_t comma = value.find(',');
  const size_t len = comma == std::string::npos ? value.size() : comma;
  const int split = SplitField((char*)field.data(), (char*)rest.data());
  FUZZ_CHECK(split == (len <= LIST_FIELD_MAX), "SplitField gave %d for a field of %zu", split, len);
  if (split) {
    FUZZ_CHECK(std::string((const char*)field.data()) == value.substr(0, len), "field");
    FUZZ_CHECK(std::string((const char*)rest.data()) ==
                   (comma == std::string::npos ? "" : value.substr(comma + 1)),
               "rest after the field");
  } else {
    FUZZ_CHECK(std::string((const char*)rest.data()) == value, "rest changed by a refusal");
  }

  // TakeSupportName into a 26-byte slot.
  ExactCopy scratch(value.c_str(), value.size() + 1);
  ExactCopy slot(SUPPORT_SLOT_SIZE, 'X');
  std::string expected;
  const bool ok = ReferenceName(value, expected);
  FUZZ_CHECK(TakeSupportName((char*)scratch.data(), (char*)slot.data()) == (int)ok,
             "TakeSupportName on \"%s\"", value.c_str());
  if (ok) {
    const char* name = (const char*)slot.data();
    FUZZ_CHECK(name == expected, "name \"%s\", expected \"%s\"", name, expected.c_str());
    FUZZ_CHECK(strlen(name) <= SUPPORT_NAME_MAX, "name of %zu characters", strlen(name));
    FUZZ_CHECK(!name[0] || IsPlainFileName(name), "name \"%s\" is not plain", name);
    for (size_t i = strlen(name); i < SUPPORT_SLOT_SIZE; i++)
      FUZZ_CHECK(slot.data()[i] == 0, "slot byte %zu not cleared", i);
  }
}

// ReadListLine to the end, without and with a source that fails at `fail_at` (SIZE_MAX:
// never), against the reference.
void CheckLines(const uint8_t* data, size_t size, size_t fail_at) {
  ExactReader src(data, size);
  if (fail_at < size + 1) src.memory.fail_at = (int)fail_at;
  ExactCopy line(LIST_BUFFER_SIZE, 0xAA);
  char* text = (char*)line.data();
  size_t pos = 0;
  for (size_t calls = 0;; calls++) {
    FUZZ_CHECK(calls <= size, "more lines than bytes");
    const RefLine ref = ReferenceLine(data, size, pos);
    // The line is read byte by byte up to its ending, then one more byte is looked at.
    const bool whole = ref.readable && ref.ending < fail_at;
    const bool looked = whole && ref.ending + 1 < fail_at;
    const int got = ReadListLine(&src.reader, text);
    FUZZ_CHECK(memchr(text, 0, LIST_BUFFER_SIZE) != nullptr, "line not terminated");
    FUZZ_CHECK(strlen(text) <= LIST_LINE_MAX, "line of %zu characters", strlen(text));
    FUZZ_CHECK(got == (int)looked, "line at %zu: read %d, expected %d (fail_at %zu)", pos, got,
               (int)looked, fail_at);
    // A line whose look-ahead failed is still handed over; any other failure empties it.
    const std::string expected = whole ? CString(ref.text) : "";
    FUZZ_CHECK(text == expected, "line at %zu differs", pos);
    if (!got) return;
    FUZZ_CHECK(src.memory.pos == ref.next, "line at %zu: next line at %zu, expected %zu", pos,
               src.memory.pos, ref.next);
    pos = ref.next;
  }
}

// The whole list as the bootstrapper reads it, against the reference.
void CheckSummary(const uint8_t* data, size_t size) {
  ExactReader src(data, size);
  ListReader s;
  StartListReader(&s, &src.reader);
  int error = ReadListSizes(&s);
  if (error == LIST_OK) error = ReadListCount(&s);
  std::vector<std::string> got;
  for (uint32_t i = 0; error == LIST_OK && i < s.slots; i++) {
    char slot[SUPPORT_SLOT_SIZE];
    memset(slot, 'x', sizeof slot);
    error = ReadListName(&s, slot);
    if (error != LIST_OK) break;
    FUZZ_CHECK(memchr(slot, 0, SUPPORT_SLOT_SIZE) != nullptr, "slot %u not terminated", i);
    got.push_back(slot);
  }

  int ref_error = LIST_OK;
  uint32_t ref_line = 0, numbers[3] = {0, 0, 0};
  std::vector<std::string> names;
  size_t pos = 0;
  for (uint32_t n = 1; ref_error == LIST_OK; n++) {
    if (n > LIST_COUNT_LINE && (int32_t)numbers[2] <= 0) break;
    if (n > LIST_COUNT_LINE && names.size() == numbers[2]) break;
    const RefLine l = ReferenceLine(data, size, pos);
    const std::string text = CString(l.text);
    const size_t eq = text.find('=');
    if (!l.readable)
      ref_error = LIST_UNREADABLE_LINE;
    else if (eq == std::string::npos)
      ref_error = LIST_NO_EQUALS;
    if (ref_error != LIST_OK) {
      ref_line = n;
      break;
    }
    pos = l.next;
    const std::string value = text.substr(eq + 1);
    if (n >= LIST_FIRST_SIZE_LINE && n <= LIST_COUNT_LINE)
      numbers[n - LIST_FIRST_SIZE_LINE] = ReferenceNumber(value);
    if (n == LIST_COUNT_LINE && numbers[2] == 0) ref_error = LIST_ZERO_COUNT, ref_line = n;
    if (n > LIST_COUNT_LINE) {
      std::string name;
      if (!ReferenceName(value, name))
        ref_error = LIST_BAD_NAME, ref_line = n;
      else
        names.push_back(name);
    }
  }
  const uint32_t stop_line = error == LIST_OK ? 0 : s.line;
  FUZZ_CHECK(error == ref_error && stop_line == ref_line,
             "error %d at line %u, expected %d at line %u", error, stop_line, ref_error, ref_line);
  if (error == LIST_OK || ref_line > LIST_COUNT_LINE || error == LIST_ZERO_COUNT) {
    FUZZ_CHECK(s.size1 == numbers[0] && s.size2 == numbers[1] && (uint32_t)s.count == numbers[2],
               "sizes %u %u count %d, expected %u %u %d", s.size1, s.size2, s.count, numbers[0],
               numbers[1], (int32_t)numbers[2]);
    FUZZ_CHECK(s.expected == (uint32_t)(s.size1 + s.size2), "expected total");
  }
  if (error == LIST_OK) {
    FUZZ_CHECK(s.count != 0, "count 0 accepted");
    FUZZ_CHECK(got.size() == names.size(), "%zu names, expected %zu", got.size(), names.size());
    for (size_t i = 0; i < got.size(); i++) {
      const char* name = got[i].c_str();
      FUZZ_CHECK(strlen(name) <= SUPPORT_NAME_MAX && (!name[0] || IsPlainFileName(name)),
                 "slot %zu holds \"%s\"", i, name);
      FUZZ_CHECK(got[i] == names[i], "slot %zu holds \"%s\", expected \"%s\"", i, name,
                 names[i].c_str());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckLines(data, size, SIZE_MAX);
  // A source that breaks somewhere: the last byte picks where.
  if (size) CheckLines(data, size, data[size - 1] % (size + 1));

  // datapack splits lines by the same rules for its messages; both must agree.
  std::vector<datapack::ListLineSpan> spans = datapack::SplitListLines(data, size);
  size_t pos = 0;
  for (const datapack::ListLineSpan& span : spans) {
    const RefLine ref = ReferenceLine(data, size, pos);
    FUZZ_CHECK(span.begin == pos, "span at %zu, expected %zu", span.begin, pos);
    if (!span.terminated) {
      FUZZ_CHECK(span.end == size && span.next == size, "unterminated span");
      pos = size;
      break;
    }
    if (ref.readable) FUZZ_CHECK(span.end == ref.ending && span.next == ref.next, "span ends");
    pos = span.next;
  }
  FUZZ_CHECK(pos == size, "spans end at %zu of %zu", pos, size);

  // Values one by one, each through the helpers.
  ExactReader src(data, size);
  ExactCopy line(LIST_BUFFER_SIZE, 0xAA);
  pos = 0;
  for (size_t calls = 0;; calls++) {
    FUZZ_CHECK(calls <= size, "more values than bytes");
    const RefLine ref = ReferenceLine(data, size, pos);
    const std::string text = CString(ref.text);
    const bool has_value = ref.readable && text.find('=') != std::string::npos;
    const int got = ReadListValue(&src.reader, (char*)line.data());
    FUZZ_CHECK(got == (int)has_value, "value at %zu: read %d", pos, got);
    if (!got) break;
    const std::string value((const char*)line.data());
    FUZZ_CHECK(value == text.substr(text.find('=') + 1), "value at %zu differs", pos);
    CheckValue(value, data[calls % size]);
    pos = ref.next;
  }

  CheckSummary(data, size);
  return 0;
}
