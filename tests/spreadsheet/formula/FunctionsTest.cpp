// The functions and operators against the application's documented results: each group a
// table of formulas over one small workbook, computed as formulas saved without a value are.
// Where the application's help gives an example, the case is that example.

#include "spreadsheet/formula/Functions.h"
#include "FormulaTestBook.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using namespace vellumcast;
using namespace vellumcast::testing;

namespace {

struct Case {
    const char* formula;
    const char* expected; // 3.5, "text", TRUE, #N/A, or blank for a formula left uncomputed
    const char* at = "Z100"; // the formula's cell on Data
};

//       A        B     C      D (dates)      H   I
//  1    Item     Qty   Price  Date
//  2    Apple    3     1.25   2024-01-15     1   a
//  3    Pear     5     0.8    2024-02-29     5   b
//  4    Plum     2     2.5    2023-12-31     10  c
//  5    apple    4     1                     20  d
//  6             "7"   TRUE   #N/A
// 'Other Sheet': A1 100, A2 =A1*2. Names: Rate (C2), Prices (C2:C5), Local on Other Sheet.
FormulaTestBook Book()
{
    FormulaTestBook book;
    const char* const data[][4] = {
        { "'Item", "'Qty", "'Price", "'Date" },
        { "'Apple", "3", "1.25", "45306" },
        { "'Pear", "5", "0.8", "45351" },
        { "'Plum", "2", "2.5", "45291" },
        { "'apple", "4", "1", "" },
        { "", "'7", "TRUE", "#N/A" },
    };
    const char* const columns[] = { "A", "B", "C", "D" };
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (*data[r][c])
                book.Set("Data", columns[c] + std::to_string(r + 1), data[r][c]);
        }
    }
    const char* const lookup[][2] = { { "1", "'a" }, { "5", "'b" }, { "10", "'c" }, { "20", "'d" } };
    for (int r = 0; r < 4; ++r) {
        book.Set("Data", "H" + std::to_string(r + 2), lookup[r][0]);
        book.Set("Data", "I" + std::to_string(r + 2), lookup[r][1]);
    }
    book.Set("Other Sheet", "A1", "100").Set("Other Sheet", "A2", "=A1*2");
    book.Name("Rate", "Data!$C$2").Name("Prices", "Data!$C$2:$C$5").Name("Local", "'Other Sheet'!$A$1", 1);
    return book;
}

void Check(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        FormulaTestBook book = Book();
        book.Set("Data", c.at, c.formula);
        EXPECT_EQ(Shown(book.ValueAt("Data", c.at)), c.expected) << c.formula << " at " << c.at;
    }
}

} // namespace

TEST(FormulaOperators, PrecedenceCoercionAndErrorsAsTheApplicationHasThem)
{
    Check({
        { "=1+2*3", "7" },
        { "=-2^2", "4" },
        { "=2^3^2", "64" },
        { "=2*-3", "-6" },
        { "=-5%", "-0.05" },
        { "=10/4", "2.5" },
        { "=1/0", "#DIV/0!" },
        { "=0^0", "#NUM!" },
        { "=\"3\"+4", "7" },
        { "=\"a\"+1", "#VALUE!" },
        { "=\"\"+1", "#VALUE!" },
        { "=TRUE+1", "2" },
        { "=1&2", "\"12\"" },
        { "=\"x\"&TRUE", "\"xTRUE\"" },
        { "=1/3&\"\"", "\"0.333333333333333\"" },
        { "=10^15&\"\"", "\"1E+15\"" },
        { "=1=1", "TRUE" },
        { "=\"a\"=\"A\"", "TRUE" },
        { "=\"a\"<\"B\"", "TRUE" },
        { "=1<\"a\"", "TRUE" },
        { "=\"z\"<FALSE", "TRUE" },
        { "=E1=0", "TRUE" },
        { "=E1=\"\"", "TRUE" },
        { "=E1+1", "1" },
        { "=E1", "0" },
        { "=A2", "\"Apple\"" },
        { "=#N/A+1", "#N/A" },
        { "=#VALUE!+#N/A", "#VALUE!" },
        { "=D6*0", "#N/A" },
        // The last addition or subtraction snaps a result within rounding of zero; one
        // within parentheses does not (the application's own example).
        { "=0.5-0.4-0.1", "0" },
        { "=1*(0.5-0.4-0.1)", "-2.77555756156289E-17" },
    });
}

TEST(FormulaReferences, CellsAreasSheetsNamesAndImplicitIntersection)
{
    Check({
        { "=B2:B5", "5", "Z3" }, // the cell of the column in the formula's row
        { "=B2:B5", "#VALUE!" },
        { "=A2:C2", "1.25", "C9" },
        { "=SUM(Data!B2:B3)", "8" },
        { "='Other Sheet'!A1", "100" },
        { "='other sheet'!A2+1", "201" },
        { "=Nowhere!A1", "#REF!" },
        { "=Rate*4", "5" },
        { "=SUM(Prices)", "5.55" },
        { "=Local", "#NAME?" }, // a name of another sheet
        { "=Undefined+1", "#NAME?" },
        { "=SUM((B2,B4))", "5" },
        { "=SUM(B2:C3 C2:C4)", "2.05" },
        { "=SUM(B2:C2 B4:C4)", "#NULL!" },
        { "=SUM(B:B)", "14" },
        { "=COUNTA(A:A)", "5" },
        { "=SUM(B2:INDEX(B2:B5,2))", "8" },
        { "={1,2;3,4}", "1" },
        { "=SUM({1,2;3,4}*2)", "20" },
        { "=#REF!", "#REF!" },
    });
    FormulaTestBook book = Book();
    book.Set("Other Sheet", "B1", "=Local+1");
    EXPECT_EQ(Shown(book.ValueAt("Other Sheet", "B1")), "101");
}

TEST(MathFunctions, RoundingAndArithmeticAsDocumented)
{
    Check({
        { "=ROUND(2.15,1)", "2.2" },
        { "=ROUND(2.149,1)", "2.1" },
        { "=ROUND(-1.475,2)", "-1.48" },
        { "=ROUND(21.5,-1)", "20" },
        { "=ROUND(626.3,-3)", "1000" },
        { "=ROUND(1.98,-1)", "0" },
        { "=ROUND(-50.55,-2)", "-100" },
        { "=ROUND(2.675,2)", "2.68" },
        { "=ROUNDUP(3.2,0)", "4" },
        { "=ROUNDUP(76.9,0)", "77" },
        { "=ROUNDUP(3.14159,3)", "3.142" },
        { "=ROUNDUP(-3.14159,1)", "-3.2" },
        { "=ROUNDUP(31415.92654,-2)", "31500" },
        { "=ROUNDDOWN(3.2,0)", "3" },
        { "=ROUNDDOWN(76.9,0)", "76" },
        { "=ROUNDDOWN(3.14159,3)", "3.141" },
        { "=ROUNDDOWN(-3.14159,1)", "-3.1" },
        { "=ROUNDDOWN(31415.92654,-2)", "31400" },
        { "=INT(8.9)", "8" },
        { "=INT(-8.9)", "-9" },
        { "=TRUNC(8.9)", "8" },
        { "=TRUNC(-8.9)", "-8" },
        { "=TRUNC(0.45)", "0" },
        { "=MOD(3,2)", "1" },
        { "=MOD(-3,2)", "1" },
        { "=MOD(3,-2)", "-1" },
        { "=MOD(-3,-2)", "-1" },
        { "=MOD(3,0)", "#DIV/0!" },
        { "=ABS(-2)", "2" },
        { "=SIGN(-0.00001)", "-1" },
        { "=SQRT(16)", "4" },
        { "=SQRT(-16)", "#NUM!" },
        { "=POWER(5,2)", "25" },
        { "=LOG(8,2)", "3" },
        { "=LOG10(100)", "2" },
        { "=LN(EXP(1))", "1" },
        { "=PI()", "3.14159265358979" },
        { "=SUM(1,\"2\",TRUE)", "4" },
        { "=SUM(B2:B6)", "14" },
        { "=SUM(A2,1)", "1" },
        { "=SUM(1,\"x\")", "#VALUE!" },
        { "=SUM(C2:D6)", "#N/A" },
        { "=PRODUCT(2,3,4)", "24" },
        { "=SUMPRODUCT(B2:B4,C2:C4)", "12.75" },
        { "=SUMPRODUCT((A2:A5=\"apple\")*B2:B5)", "7" },
        { "=SUMPRODUCT(B2:B4,C2:C5)", "#VALUE!" },
        { "=CEILING(2.5,1)", "3" },
        { "=CEILING(-2.5,-2)", "-4" },
        { "=CEILING(-2.5,2)", "-2" },
        { "=CEILING(1.5,0.1)", "1.5" },
        { "=CEILING(0.234,0.01)", "0.24" },
        { "=FLOOR(3.7,2)", "2" },
        { "=FLOOR(-2.5,-2)", "-2" },
        { "=FLOOR(2.5,-2)", "#NUM!" },
        { "=FLOOR(1.58,0.1)", "1.5" },
        { "=FLOOR(0.234,0.01)", "0.23" },
        { "=MROUND(10,3)", "9" },
        { "=MROUND(-10,-3)", "-9" },
        { "=MROUND(1.3,0.2)", "1.4" },
        { "=MROUND(5,-2)", "#NUM!" },
        { "=EVEN(1.5)", "2" },
        { "=EVEN(3)", "4" },
        { "=EVEN(-1)", "-2" },
        { "=ODD(1.5)", "3" },
        { "=ODD(2)", "3" },
        { "=ODD(-2)", "-3" },
        { "=QUOTIENT(5,2)", "2" },
        { "=QUOTIENT(-10,3)", "-3" },
        { "=FACT(5)", "120" },
        { "=COMBIN(8,2)", "28" },
        { "=GCD(24,36)", "12" },
        { "=LCM(5,2)", "10" },
    });
}

TEST(LogicalFunctions, ConditionsBranchesAndInformation)
{
    Check({
        { "=IF(B2>2,\"yes\",\"no\")", "\"yes\"" },
        { "=IF(B4>2,\"yes\")", "FALSE" },
        { "=IF(B4>2,\"yes\",)", "0" },
        { "=IF(\"TRUE\",1,2)", "1" },
        { "=IF(\"x\",1,2)", "#VALUE!" },
        { "=IF(D6,1,2)", "#N/A" },
        { "=IF(FALSE,FOO(),3)", "3" }, // the branch not taken is not computed
        { "=_xlfn.IFS(B2>4,\"a\",B2>2,\"b\")", "\"b\"" },
        { "=_xlfn.IFS(FALSE,1)", "#N/A" },
        { "=IFERROR(1/0,\"oops\")", "\"oops\"" },
        { "=IFERROR(D6,0)", "0" },
        { "=IFERROR(E1,1)", "\"\"" },
        { "=IFERROR(5,1)", "5" },
        { "=_xlfn.IFNA(D6,\"none\")", "\"none\"" },
        { "=_xlfn.IFNA(1/0,1)", "#DIV/0!" },
        { "=AND(TRUE,1)", "TRUE" },
        { "=AND(B2:B5)", "TRUE" },
        { "=AND(A2:A5)", "#VALUE!" },
        { "=OR(FALSE,0)", "FALSE" },
        { "=OR(C2:C6)", "TRUE" },
        { "=_xlfn.XOR(TRUE,TRUE)", "FALSE" },
        { "=NOT(0)", "TRUE" },
        { "=_xlfn.SWITCH(B3,3,\"three\",5,\"five\",\"other\")", "\"five\"" },
        { "=_xlfn.SWITCH(9,1,\"a\")", "#N/A" },
        { "=ISBLANK(E1)", "TRUE" },
        { "=ISBLANK(A2)", "FALSE" },
        { "=ISNUMBER(B6)", "FALSE" },
        { "=ISTEXT(B6)", "TRUE" },
        { "=ISNONTEXT(E1)", "TRUE" },
        { "=ISLOGICAL(C6)", "TRUE" },
        { "=ISERROR(D6)", "TRUE" },
        { "=ISERR(D6)", "FALSE" },
        { "=ISNA(D6)", "TRUE" },
        { "=ISREF(B2)", "TRUE" },
        { "=ISREF(1)", "FALSE" },
        { "=ISEVEN(-1)", "FALSE" },
        { "=ISODD(5.5)", "TRUE" },
        { "=ERROR.TYPE(1/0)", "2" },
        { "=ERROR.TYPE(1)", "#N/A" },
        { "=N(C6)", "1" },
        { "=N(A2)", "0" },
        { "=T(A2)", "\"Apple\"" },
        { "=T(B2)", "\"\"" },
        { "=NA()", "#N/A" },
    });
}

TEST(TextFunctions, PiecesCasesSearchesAndFormats)
{
    Check({
        { "=LEFT(\"Sale Price\",4)", "\"Sale\"" },
        { "=LEFT(\"Sweden\")", "\"S\"" },
        { "=RIGHT(\"Sale Price\",5)", "\"Price\"" },
        { "=RIGHT(\"Stock Number\")", "\"r\"" },
        { "=MID(\"Fluid Flow\",1,5)", "\"Fluid\"" },
        { "=MID(\"Fluid Flow\",7,20)", "\"Flow\"" },
        { "=MID(\"Fluid Flow\",20,5)", "\"\"" },
        { "=MID(\"x\",0,1)", "#VALUE!" },
        { "=LEN(\"Phoenix, AZ\")", "11" },
        { "=LEN(\"  One   \")", "8" },
        { "=LEN(12.5)", "4" },
        { "=LEN(\"\xC3\xA9\xF0\x9F\x98\x80\")", "3" }, // é and an emoji of two UTF-16 units
        { "=UPPER(\"total \xC3\xA9\")", "\"TOTAL \xC3\x89\"" },
        { "=LOWER(\"E. E. Cummings\")", "\"e. e. cummings\"" },
        { "=PROPER(\"this is a TITLE\")", "\"This Is A Title\"" },
        { "=PROPER(\"2-way street\")", "\"2-Way Street\"" },
        { "=PROPER(\"76BudGet\")", "\"76Budget\"" },
        { "=TRIM(\" First Quarter Earnings \")", "\"First Quarter Earnings\"" },
        { "=TRIM(\"  a   b  \")", "\"a b\"" },
        { "=SUBSTITUTE(\"Sales Data\",\"Sales\",\"Cost\")", "\"Cost Data\"" },
        { "=SUBSTITUTE(\"Quarter 1, 2008\",\"1\",\"2\",1)", "\"Quarter 2, 2008\"" },
        { "=SUBSTITUTE(\"Quarter 1, 2011\",\"1\",\"2\",3)", "\"Quarter 1, 2012\"" },
        { "=REPLACE(\"abcdefghijk\",6,5,\"*\")", "\"abcde*k\"" },
        { "=REPLACE(\"2009\",3,2,\"10\")", "\"2010\"" },
        { "=FIND(\"M\",\"Miriam McGovern\")", "1" },
        { "=FIND(\"m\",\"Miriam McGovern\")", "6" },
        { "=FIND(\"M\",\"Miriam McGovern\",3)", "8" },
        { "=FIND(\"z\",\"abc\")", "#VALUE!" },
        { "=SEARCH(\"e\",\"Statements\",6)", "7" },
        { "=SEARCH(\"margin\",\"Profit Margin\")", "8" },
        { "=SEARCH(\"?r\",\"Profit\")", "1" },
        { "=SEARCH(\"f*t\",\"Profit\")", "4" },
        { "=TEXT(1234.567,\"$#,##0.00\")", "\"$1,234.57\"" },
        { "=TEXT(0.285,\"0.0%\")", "\"28.5%\"" },
        { "=TEXT(DATE(2024,3,1),\"mmmm d, yyyy\")", "\"March 1, 2024\"" },
        { "=TEXT(\"12\",\"0.00\")", "\"12.00\"" },
        { "=TEXT(\"abc\",\"0.00\")", "\"abc\"" },
        { "=VALUE(\"$1,000\")", "1000" },
        { "=VALUE(\"16:48:00\")-VALUE(\"12:00:00\")", "0.2" },
        { "=VALUE(\"abc\")", "#VALUE!" },
        { "=VALUE(\"2024-03-01\")", "45352" },
        { "=VALUE(\"(12)\")", "-12" },
        { "=VALUE(\"1.5E3\")", "1500" },
        { "=VALUE(\"50%\")", "0.5" },
        { "=REPT(\"*-\",3)", "\"*-*-*-\"" },
        { "=REPT(\"x\",-1)", "#VALUE!" },
        { "=CONCATENATE(\"a\",1,TRUE)", "\"a1TRUE\"" },
        { "=_xlfn.CONCAT(A2:A3,\"!\")", "\"ApplePear!\"" },
        { "=_xlfn.TEXTJOIN(\", \",TRUE,A2:A6)", "\"Apple, Pear, Plum, apple\"" },
        { "=_xlfn.TEXTJOIN(\"-\",FALSE,\"a\",E1,\"b\")", "\"a--b\"" },
        { "=EXACT(\"Word\",\"word\")", "FALSE" },
        { "=CHAR(65)", "\"A\"" },
        { "=CODE(\"A\")", "65" },
        { "=CLEAN(CHAR(9)&\"x\")", "\"x\"" },
        { "=FIXED(1234.567,1)", "\"1,234.6\"" },
        { "=FIXED(1234.567,-1)", "\"1,230\"" },
        { "=FIXED(-1234.567,-1,TRUE)", "\"-1230\"" },
        { "=FIXED(44.332)", "\"44.33\"" },
        { "=HYPERLINK(\"http://example.com\",\"Example\")", "\"Example\"" },
        { "=HYPERLINK(\"http://x\")", "\"http://x\"" },
        { "=HYPERLINK(\"#A1\",B2)", "3" },
    });
}

TEST(DateFunctions, SerialsOfTheDateSystemAndTheRunsClock)
{
    Check({
        { "=DATE(2024,1,15)", "45306" },
        { "=DATE(2008,14,2)", "39846" },
        { "=DATE(2008,1,-15)", "39432" },
        { "=DATE(108,1,2)", "39449" },
        { "=DATE(1900,2,29)", "60" },
        { "=DATE(1900,3,0)", "60" },
        { "=DATE(-1,1,1)", "#NUM!" },
        { "=DATE(10000,1,1)", "#NUM!" },
        { "=YEAR(D2)", "2024" },
        { "=MONTH(D3)", "2" },
        { "=DAY(D3)", "29" },
        { "=YEAR(\"2020-07-04\")", "2020" },
        { "=YEAR(0)", "1900" },
        { "=MONTH(0)", "1" },
        { "=DAY(0)", "0" },
        { "=DAY(60)", "29" },
        { "=YEAR(-1)", "#NUM!" },
        { "=EDATE(DATE(2011,1,15),1)", "40589" },
        { "=EDATE(DATE(2011,1,31),1)", "40602" },
        { "=EDATE(DATE(2011,1,15),-1)", "40527" },
        { "=EOMONTH(DATE(2011,1,1),1)", "40602" },
        { "=EOMONTH(DATE(2011,1,1),-3)", "40482" },
        { "=TODAY()", "45429" },
        { "=NOW()", "45429.5625" },
        { "=WEEKDAY(DATE(2008,2,14))", "5" },
        { "=WEEKDAY(DATE(2008,2,14),2)", "4" },
        { "=WEEKDAY(DATE(2008,2,14),3)", "3" },
        { "=HOUR(0.75)", "18" },
        { "=MINUTE(\"12:45:00\")", "45" },
        { "=SECOND(\"4:48:18 PM\")", "18" },
        { "=TIME(12,0,0)", "0.5" },
        { "=TIME(16,48,10)", "0.700115740740741" },
        { "=DATEDIF(DATE(2001,1,1),DATE(2003,1,1),\"Y\")", "2" },
        { "=DATEDIF(DATE(2001,6,1),DATE(2002,8,15),\"D\")", "440" },
        { "=DATEDIF(DATE(2001,6,1),DATE(2002,8,15),\"YD\")", "75" },
        { "=DATEDIF(DATE(2001,6,1),DATE(2002,8,15),\"MD\")", "14" },
        { "=DATEDIF(DATE(2001,6,1),DATE(2002,8,15),\"YM\")", "2" },
        { "=DATEDIF(DATE(2001,6,1),DATE(2002,8,15),\"M\")", "14" },
        { "=_xlfn.DAYS(\"2021-03-15\",\"2021-02-01\")", "42" },
        { "=DATEVALUE(\"8/22/2011\")", "40777" },
        { "=TIMEVALUE(\"2:24 AM\")", "0.1" },
        { "=NETWORKDAYS(DATE(2012,10,1),DATE(2013,3,1))", "110" },
        { "=NETWORKDAYS(DATE(2012,10,1),DATE(2013,3,1),DATE(2012,11,22))", "109" },
        { "=WORKDAY(DATE(2008,10,1),151)", "39933" },
        { "=WEEKNUM(DATE(2012,3,9))", "10" },
        { "=WEEKNUM(DATE(2012,3,9),2)", "11" },
        { "=_xlfn.ISOWEEKNUM(DATE(2012,3,9))", "10" },
    });
    // The 1904 date system counts from 1 January 1904.
    FormulaTestBook book = Book();
    book.Date1904().Set("Data", "Z1", "=DATE(1904,1,2)").Set("Data", "Z2", "=TODAY()");
    EXPECT_EQ(Shown(book.ValueAt("Data", "Z1")), "1");
    EXPECT_EQ(Shown(book.ValueAt("Data", "Z2")), "43967");
}

TEST(LookupFunctions, ExactSortedAndPositionalLookups)
{
    Check({
        { "=VLOOKUP(\"Pear\",A2:C5,3,FALSE)", "0.8" },
        { "=VLOOKUP(\"pear\",A2:C5,2,0)", "5" },
        { "=VLOOKUP(\"P*m\",A2:C5,2,FALSE)", "2" },
        { "=VLOOKUP(\"Kiwi\",A2:C5,2,FALSE)", "#N/A" },
        { "=VLOOKUP(\"Pear\",A2:C5,4,FALSE)", "#REF!" },
        { "=VLOOKUP(\"Pear\",A2:C5,0,FALSE)", "#VALUE!" },
        { "=VLOOKUP(7,H2:I5,2)", "\"b\"" },
        { "=VLOOKUP(25,H2:I5,2,TRUE)", "\"d\"" },
        { "=VLOOKUP(0,H2:I5,2)", "#N/A" },
        { "=VLOOKUP(3,B2:C5,2)", "blank" }, // unsorted data: the application's answer is its search's
        { "=HLOOKUP(\"Qty\",A1:C5,3,FALSE)", "5" },
        { "=MATCH(5,B2:B5,0)", "2" },
        { "=MATCH(7,H2:H5)", "2" },
        { "=MATCH(\"p*\",A2:A5,0)", "2" },
        { "=MATCH(40,H2:H5,-1)", "blank" },
        { "=INDEX(A2:C5,2,3)", "0.8" },
        { "=SUM(INDEX(A2:C5,0,2))", "14" },
        { "=INDEX(B2:B5,3)", "2" },
        { "=INDEX(A2:C2,2)", "3" },
        { "=INDEX(A2:C5,5,1)", "#REF!" },
        { "=INDEX({1,2;3,4},2,1)", "3" },
        { "=_xlfn.XLOOKUP(\"Plum\",A2:A5,C2:C5)", "2.5" },
        { "=_xlfn.XLOOKUP(\"Kiwi\",A2:A5,C2:C5,\"none\")", "\"none\"" },
        { "=_xlfn.XLOOKUP(6,H2:H5,I2:I5,,-1)", "\"b\"" },
        { "=_xlfn.XLOOKUP(6,H2:H5,I2:I5,,1)", "\"c\"" },
        { "=_xlfn.XLOOKUP(\"apple\",A2:A5,B2:B5,,0,-1)", "4" },
        { "=_xlfn.XMATCH(10,H2:H5)", "3" },
        { "=LOOKUP(7,H2:H5,I2:I5)", "\"b\"" },
        { "=CHOOSE(2,\"a\",\"b\",\"c\")", "\"b\"" },
        { "=CHOOSE(4,1,2)", "#VALUE!" },
        { "=SUM(CHOOSE(2,B2:B3,C2:C3))", "2.05" },
        { "=ROW()", "100" },
        { "=ROW(C10)", "10" },
        { "=COLUMN()", "26" },
        { "=COLUMN(D1)", "4" },
        { "=ROWS(A2:C5)", "4" },
        { "=COLUMNS(A2:C5)", "3" },
        { "=ROWS({1,2;3,4})", "2" },
        { "=SUM(OFFSET(B2,1,0,2,1))", "7" },
        { "=SUM(TRANSPOSE(B2:B4))", "10" },
    });
}

TEST(StatisticalFunctions, CountsAveragesAndCriteria)
{
    Check({
        { "=AVERAGE(B2:B5)", "3.5" },
        { "=AVERAGE(E1:E3)", "#DIV/0!" },
        { "=MIN(B2:B6)", "2" },
        { "=MAX(C2:C6)", "2.5" },
        { "=MAX(E1:E3)", "0" },
        { "=MAX(1,\"3\")", "3" },
        { "=COUNT(A1:D6)", "11" },
        { "=COUNT(1,\"2\",\"x\",TRUE)", "3" },
        { "=COUNTA(A1:D6)", "22" },
        { "=COUNTBLANK(A1:D6)", "2" },
        { "=COUNTIF(A2:A5,\"apple\")", "2" },
        { "=COUNTIF(B2:B6,\">3\")", "2" },
        { "=COUNTIF(A2:A6,\"<>apple\")", "3" },
        { "=COUNTIF(A1:A6,\"\")", "1" },
        { "=COUNTIF(A2:A5,\"p*\")", "2" },
        { "=COUNTIF(A2:A5,\"?ear\")", "1" },
        { "=COUNTIF(D2:D4,\">=\"&DATE(2024,1,1))", "2" },
        { "=COUNTIF(C2:C6,TRUE)", "1" },
        { "=SUMIF(B2:B5,\">3\")", "9" },
        { "=SUMIF(A2:A5,\"apple\",B2:B5)", "7" },
        { "=SUMIF(A2:A5,\"P*\",C2)", "3.3" },
        { "=AVERAGEIF(B2:B5,\">2\")", "4" },
        { "=AVERAGEIF(B2:B5,\">10\")", "#DIV/0!" },
        { "=SUMIFS(B2:B5,A2:A5,\"apple\",C2:C5,\">1\")", "3" },
        { "=COUNTIFS(A2:A5,\"p*\",B2:B5,\">2\")", "1" },
        { "=AVERAGEIFS(C2:C5,B2:B5,\">=3\")", "1.01666666666667" },
        { "=_xlfn.MAXIFS(C2:C5,A2:A5,\"apple\")", "1.25" },
        { "=_xlfn.MINIFS(C2:C5,A2:A5,\"apple\")", "1" },
        { "=SUMIFS(B2:B5,A2:A4,\"x\")", "#VALUE!" },
        { "=MEDIAN(1,2,3,4,5)", "3" },
        { "=MEDIAN(1,2,3,4,5,6)", "3.5" },
        { "=LARGE(B2:B5,1)", "5" },
        { "=SMALL(B2:B5,2)", "3" },
        { "=LARGE(B2:B5,5)", "#NUM!" },
        { "=RANK(3,B2:B5)", "3" },
        { "=RANK(3,B2:B5,1)", "2" },
        { "=STDEV(2,4,4,4,5,5,7,9)", "2.1380899352994" },
        { "=STDEVP(2,4,4,4,5,5,7,9)", "2" },
        { "=VAR(1,2,3,4)", "1.66666666666667" },
        { "=VARP(1,2,3,4)", "1.25" },
        { "=AVERAGEA(B2:C6)", "2.055" },
        { "=MAXA(C2:C6)", "2.5" },
        { "=MINA(A2:B3)", "0" },
    });
}

TEST(Uncomputable, LeftBlankRatherThanGuessed)
{
    Check({
        { "=FOO(1)", "blank" },
        { "=INDIRECT(\"A1\")", "blank" },
        { "=RAND()", "blank" },
        { "=SUBTOTAL(9,B2:B5)", "blank" },
        { "=Table1[Qty]", "blank" },
        { "=[1]Sheet1!A1", "blank" },
        { "=SUM(Data:Other!A1)", "blank" },
        { "=Z100+1", "blank" }, // itself
        { "=SUM(", "blank" },
        // Functions later than the file format's first version are written "_xlfn.IFNA";
        // the application knows no function by the bare name.
        { "=IFNA(D6,1)", "blank" },
    });
}

// docs/formulas.md lists every function computed, and names none that is not.
TEST(FunctionList, TheDocumentationListsTheFunctionsComputed)
{
    std::ifstream in(std::string(VELLUMCAST_SOURCE_DIR) + "/docs/formulas.md");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t start = text.find("## Functions computed");
    const size_t end = text.find("\n## ", start + 1);
    ASSERT_NE(start, std::string::npos);
    const std::string section = text.substr(start, end - start);
    std::set<std::string> listed;
    for (size_t at = section.find('`'); at != std::string::npos; at = section.find('`', at + 1)) {
        const size_t close = section.find('`', at + 1);
        const std::string name = section.substr(at + 1, close - at - 1);
        at = close;
        if (!name.empty() && name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.") == std::string::npos
            && name.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos) {
            listed.insert(name);
            const uint16_t function = formula::FindFunction(name);
            EXPECT_TRUE(function != formula::kUnknownFunction && formula::FunctionTable()[function].body)
                << name << " is listed but not computed";
        }
    }
    for (const formula::FunctionEntry& entry : formula::FunctionTable()) {
        if (entry.body) {
            EXPECT_TRUE(listed.count(std::string(entry.name))) << entry.name << " is computed but not listed";
        }
    }
}

// Lookups in long tables go through an index of the key column: the same answers as a
// search through the cells, first match first, last from the end, any case.
TEST(LookupFunctions, LongTablesGiveWhatASearchGives)
{
    const auto table = [] {
        FormulaTestBook book;
        for (int r = 1; r <= 300; ++r) {
            book.Set("T", "A" + std::to_string(r), r % 100 == 7 ? "'Dup" : "'Key" + std::to_string(r));
            book.Set("T", "B" + std::to_string(r), std::to_string(r));
        }
        book.Set("T", "A299", "42");
        return book;
    };
    const std::pair<const char*, const char*> cases[] = {
        { "=VLOOKUP(\"key150\",A1:B300,2,FALSE)", "150" },
        { "=VLOOKUP(\"Dup\",A1:B300,2,FALSE)", "7" },
        { "=_xlfn.XLOOKUP(\"DUP\",A1:A300,B1:B300,,0,-1)", "207" },
        { "=MATCH(42,A1:A300,0)", "299" },
        { "=MATCH(\"42\",A1:A300,0)", "#N/A" },
        { "=VLOOKUP(\"Key7\",A1:B300,2,FALSE)", "#N/A" },
        { "=VLOOKUP(\"K*9\",A1:B300,2,FALSE)", "9" },
    };
    for (const auto& [formula, expected] : cases) {
        FormulaTestBook book = table();
        book.Set("T", "D1", formula);
        EXPECT_EQ(Shown(book.ValueAt("T", "D1")), expected) << formula;
    }
}
