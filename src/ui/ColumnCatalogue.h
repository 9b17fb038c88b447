#pragma once
// Column catalogues of the configurable lists: "title|width|id" triples in
// a numbered string, the visible-column keys and the signed columns.
#include <string>
#include <vector>

namespace vextal {

struct ColumnSpec {
    std::string title;
    int width = 0;
    int id = 0;
};

// The catalogue's triples in order; an incomplete last triple is dropped.
std::vector<ColumnSpec> ParseCatalogue(int catalogueId);
bool FindColumnSpec(int catalogueId, int columnId, ColumnSpec& spec);
// The specs of the ids in `visible` ("10|11|12"), in that order; ids not in
// the catalogue are skipped.
std::vector<ColumnSpec> VisibleColumnSpecs(int catalogueId, const std::string& visible);
// Columns whose cells are coloured by the sign of their number.
bool IsSignedColumn(int catalogueId, int columnId);

enum class SignColour { Black, Red, Green };
// A cell's number: above 0 red, below 0 green, else black. `shown` is the
// cell's text: a number that shows as zero there ("0.00") stays black.
SignColour SignColourOf(double value, const std::string& shown);
// A cell without a number behind it: its text read as one.
SignColour SignColourOf(const std::string& text);
// A cell's text as the number it shows: thousands separators and a trailing
// "%" do not count; 0 when it is no number.
double ShownNumber(const std::string& text);
// The decimals a cell's text shows ("12.30%" 2, "88" 0).
int ShownDecimals(const std::string& text);

// The three configurable lists: catalogue, visible-columns key, list name
// for the widths, default visible columns.
struct ConfigurableList {
    int catalogueId;
    const char* key;
    const char* listName;
    const char* defaultColumns;
};
const ConfigurableList& AccountListConfig();
const ConfigurableList& HoldingListConfig();
const ConfigurableList& NewValueListConfig();

}  // namespace vextal
