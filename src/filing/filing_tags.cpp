// The filing tag table: what a line's leading tag does to the line and to the
// routing of lines to the schedule output. Structure tags of the submission are
// dropped or cut off; Financial Data Schedule tags turn their line into a
// two-column row; every tag not in the table is written back in front of its line.
#include <algorithm>
#include <array>
#include <string_view>

#include "document/am_file.h"
#include "filing/filing_stream.h"

namespace {

// What becomes of the line.
enum class LineAction : unsigned char {
  kDropLine,       // it reaches neither output
  kKeepRemainder,  // it is written without its tag
  kScheduleRow,    // it becomes a row under the tag's label
};

// What the tag does to the copying of lines to the schedule output.
enum class CopyEffect : unsigned char {
  kNone,
  kStartSchedule,  // copying starts with this line
  kEndSchedule,    // copying stops after this line
  kOpenLegend,     // copying is suspended
  kCloseLegend,    // copying resumes
};

struct FilingTag {
  std::string_view strTag;
  LineAction line;
  std::string_view strLabel = {};  // schedule rows only
  CopyEffect effect = CopyEffect::kNone;
};

using enum LineAction;
using enum CopyEffect;

// In the order of the submission: frame and markup, then the schedule, then its legend.
// The labels are shown as filers have always seen them, "Currents Assets" included.
constexpr FilingTag kFilingTags[] = {
    {"<SEC-DOCUMENT>", kDropLine},
    {"</SEC-DOCUMENT>", kDropLine},
    {"<IMS-DOCUMENT>", kDropLine},
    {"</IMS-DOCUMENT>", kDropLine},
    {"<IMS-HEADER>", kDropLine},
    {"</IMS-HEADER>", kDropLine},
    {"<SEC-HEADER>", kKeepRemainder},
    {"</SEC-HEADER>", kKeepRemainder},
    {"<DOCUMENT>", kKeepRemainder},
    {"</DOCUMENT>", kDropLine},
    {"<TYPE>", kDropLine},
    {"<SEQUENCE>", kDropLine},
    {"<DESCRIPTION>", kDropLine},
    {"<TEXT>", kDropLine},
    {"</TEXT>", kDropLine},
    {"<PAGE>", kDropLine},
    {"<TABLE>", kDropLine},
    {"</TABLE>", kDropLine},
    {"<CAPTION>", kDropLine},
    {"<S>", kDropLine},
    {"<C>", kDropLine},
    {"<F1>", kDropLine},
    {"<F2>", kDropLine},
    {"<F3>", kDropLine},
    {"<F4>", kDropLine},

    {"<ARTICLE>", kScheduleRow, "Article", kStartSchedule},
    {"<MULTIPLIER>", kScheduleRow, "Multiplier"},
    {"<CURRENCY>", kScheduleRow, "Currency"},
    {"<PERIOD-TYPE>", kScheduleRow, "Period Type"},
    {"<FISCAL-YEAR-END>", kScheduleRow, "Fiscal Year End"},
    {"<PERIOD-START>", kScheduleRow, "Period Start"},
    {"<PERIOD-END>", kScheduleRow, "Period End"},
    {"<EXCHANGE-RATE>", kScheduleRow, "Exchange Rate"},
    {"<CASH>", kScheduleRow, "Cash"},
    {"<SECURITIES>", kScheduleRow, "Securities"},
    {"<RECEIVABLES>", kScheduleRow, "Receivables"},
    {"<ALLOWANCES>", kScheduleRow, "Allowances"},
    {"<INVENTORY>", kScheduleRow, "Inventory"},
    {"<CURRENT-ASSETS>", kScheduleRow, "Currents Assets"},
    {"<PP&E>", kScheduleRow, "PP&E"},
    {"<DEPRECIATION>", kScheduleRow, "Depreciation"},
    {"<TOTAL-ASSETS>", kScheduleRow, "Total Assets"},
    {"<CURRENT-LIABILITIES>", kScheduleRow, "Current Liabilities"},
    {"<BONDS>", kScheduleRow, "Bonds"},
    {"<PREFERRED-MANDATORY>", kScheduleRow, "Preferred Mandatory"},
    {"<PREFERRED>", kScheduleRow, "Preferred"},
    {"<COMMON>", kScheduleRow, "Common"},
    {"<OTHER-SE>", kScheduleRow, "Other SE"},
    {"<TOTAL-LIABILITY-AND-EQUITY>", kScheduleRow, "Total Liability & Equity"},
    {"<SALES>", kScheduleRow, "Sales"},
    {"<TOTAL-REVENUES>", kScheduleRow, "Total Revenues"},
    {"<CGS>", kScheduleRow, "CGS"},
    {"<TOTAL-COSTS>", kScheduleRow, "Total Costs"},
    {"<OTHER-EXPENSES>", kScheduleRow, "Other Expenses"},
    {"<LOSS-PROVISION>", kScheduleRow, "Loss Provision"},
    {"<INTEREST-EXPENSE>", kScheduleRow, "Interest Expense"},
    {"<INCOME-PRETAX>", kScheduleRow, "Income Pretax"},
    {"<INCOME-TAX>", kScheduleRow, "Income Tax"},
    {"<INCOME-CONTINUING>", kScheduleRow, "Income Continuing"},
    {"<DISCONTINUED>", kScheduleRow, "Discontinued"},
    {"<EXTRAORDINARY>", kScheduleRow, "Extraordinary"},
    {"<CHANGES>", kScheduleRow, "Changes"},
    {"<NET-INCOME>", kScheduleRow, "Net Income"},
    {"<EPS-PRIMARY>", kScheduleRow, "EPS Primary"},
    {"<EPS-DILUTED>", kScheduleRow, "EPS Diluted", kEndSchedule},

    {"<LEGEND>", kDropLine, {}, kOpenLegend},
    {"</LEGEND>", kDropLine, {}, kCloseLegend},
};

// The same rows ordered by tag, for a binary search.
constexpr auto kTagsByText = [] {
  std::array<FilingTag, std::size(kFilingTags)> rows{};
  std::ranges::copy(kFilingTags, rows.begin());
  std::ranges::sort(rows, {}, &FilingTag::strTag);
  return rows;
}();
static_assert(std::ranges::adjacent_find(kTagsByText, {}, &FilingTag::strTag) == kTagsByText.end(),
              "each tag has one row");

const FilingTag* FindFilingTag(std::string_view strTag) {
  const auto it = std::ranges::lower_bound(kTagsByText, strTag, {}, &FilingTag::strTag);
  return it != kTagsByText.end() && it->strTag == strTag ? &*it : nullptr;
}

constexpr std::size_t kLabelColumns = 20;
constexpr std::size_t kValueColumns = 20;

}  // namespace

std::string_view CAMFile::ClassifyFilingTag(std::string_view strTag, std::string_view strRest, CString& strRow,
                                            FilingCopyFlags& flags) {
  const FilingTag* pTag = FindFilingTag(strTag);
  if (!pTag) {
    flags.bEmitTag = true;
    return strRest;
  }
  switch (pTag->effect) {
    case kNone: break;
    case kStartSchedule:
      // A later schedule is copied whole, however the one before it ended.
      flags.bCapture = true;
      flags.bScheduleEnded = false;
      break;
    case kEndSchedule: flags.bScheduleEnded = true; break;
    case kOpenLegend: flags.bInLegend = true; break;
    case kCloseLegend: flags.bInLegend = false; break;
  }
  switch (pTag->line) {
    case kDropLine: return kFilingDropMarker;
    case kKeepRemainder: return strRest;
    case kScheduleRow: strRow = FormatScheduleRow(pTag->strLabel, strRest); return strRow;
  }
  return strRest;
}

// The value keeps the line end that closed it in the filing, so the end sits in
// the value column's last places and the digits of a plain value end in column
// 38. A value in parentheses gets one more column, which puts its digits in that
// same column and its ')' one place further right.
CString CAMFile::FormatScheduleRow(std::string_view strLabel, std::string_view strValue) {
  CString strRow(strLabel.substr(0, kLabelColumns));
  strRow.resize(kLabelColumns, ' ');
  strValue.remove_prefix(std::min(FindFilingNonBlank(strValue), strValue.size()));
  const std::size_t nColumns = kValueColumns + (strValue.find(')') != std::string_view::npos ? 1 : 0);
  if (strValue.size() > nColumns) strValue.remove_prefix(strValue.size() - nColumns);
  strRow.append(nColumns - strValue.size(), ' ');
  return strRow.append(strValue);
}
