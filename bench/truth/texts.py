"""The known text the generator sets: plain ASCII prose (with words that ligate), numbers for
tables, and short passages in Hebrew, Arabic, Chinese, Japanese and Korean.

Everything is fixed (no randomness) so a generated set is the same on every run."""

SENTENCES = [
    "The office staff found the final draft difficult to read on a small screen.",
    "Efficient flow control affects every stage of the pipeline.",
    "A reader expects the words of a page in the order a person would read them.",
    "Columns are read from top to bottom and then from left to right.",
    "The affluent suburb filed its fiscal report in the first week of March.",
    "Each figure shows the effect of the buffer size on the throughput.",
    "Scientific journals often set their articles in two narrow columns.",
    "The official guidelines define a fixed margin around the text block.",
    "Small differences in spacing can merge two words into one.",
    "The waffle shop offered fluffy pancakes and coffee to early visitors.",
    "Sixty five families settled in the valley after the long winter.",
    "Traffic on the northern bridge was lighter than forecast.",
    "The committee will publish its findings in a later issue.",
    "Careful typesetting keeps the baseline of every line straight.",
    "An abstract summarises the whole paper in a few sentences.",
    "The library keeps old maps in flat drawers away from the light.",
    "Our method reduces the error by a third on the standard benchmark.",
    "The harbour master logged the arrival of twelve fishing boats.",
    "Rain is expected in the afternoon with clearing skies by evening.",
    "Fifteen students qualified for the final round of the contest.",
    "The museum shuffled its exhibits to make room for the new wing.",
    "Office hours are posted on the door of the staff room.",
    "The survey asked residents how often they used public transport.",
    "A justified line stretches its spaces so both margins are straight.",
    "The orchestra rehearsed the final movement twice before the concert.",
    "Weather stations report temperature, pressure and wind every hour.",
    "The bakery opens at six and sells out of bread by noon.",
    "Engineers inspected the offshore platform after the storm.",
    "The report lists every affected account in the appendix.",
    "Good defaults spare the user from difficult configuration.",
]


def paragraph(start, count):
    """COUNT sentences from START on, wrapping around the list."""
    return " ".join(SENTENCES[(start + i) % len(SENTENCES)] for i in range(count))


# A table: header and rows of a small monthly report, numbers with separators and signs.
TABLE_HEADER = ["Region", "Units", "Revenue", "Change", "Date"]
TABLE_ROWS = [
    ["North", "1,204", "15,230.50", "+3.2%", "03/25/2020"],
    ["South", "987", "9,870.00", "-1.5%", "04/01/2020"],
    ["East", "2,310", "27,402.75", "+12.0%", "06/22/2015"],
    ["West", "45", "612.08", "-0.4%", "11/30/2019"],
    ["Central", "13,008", "143,950.10", "+7.7%", "02/14/2021"],
]

LIST_ITEMS = [
    "Collect the samples before noon.",
    "Label each tube with its batch number.",
    "Store the tubes at four degrees.",
    "Send the final report to the office.",
]

HEBREW = [
    "שלום עולם וברוכים הבאים לספרייה החדשה",
    "הספר הזה מספר על ילד קטן שגר בעיר גדולה",
]
ARABIC = [
    "مرحبا بكم في المكتبة الجديدة",
    "هذا الكتاب يحكي قصة طفل صغير في مدينة كبيرة",
]
CHINESE = "东北电气发展股份有限公司今天发布了年度报告，收入比去年增长了百分之十二。"
JAPANESE = "今日は良い天気です。私たちは公園で本を読みました。"
KOREAN = "오늘은 날씨가 좋습니다 우리는 공원에서 책을 읽었습니다"
