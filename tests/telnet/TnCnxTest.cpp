// The telnet session against scripted loopback servers: the exact bytes it answers, the data it
// delivers, its events and its connection life cycle.
#include "TelnetTestUtil.h"

#include "platform/DebugOutput.h"
#include "support/PeerProcess.h"

#include <QRegularExpression>

#include <stdexcept>

using namespace telnettest;

namespace {

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;

class TnCnxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log.Attach(tn);
        ASSERT_TRUE(server.Connect(tn));
        ASSERT_EQ(log.events, std::vector<std::string>{"connected 0"});
        log.events.clear();
    }

    TTnCnx tn;
    SessionLog log;
    ScriptedServer server;
};

TEST_F(TnCnxTest, AnswersEveryVerbAsTheOptionTableSays)
{
    struct Row {
        int verb, option;
        std::string answer;
    };
    const std::vector<Row> rows = {
        {WILL, 0, Bytes({IAC, DO, 0})},
        {WONT, 0, ""},
        {DO, 0, ""},
        {DONT, 0, ""},
        {WILL, 3, Bytes({IAC, DO, 3})},
        {WONT, 3, ""},
        {DO, 3, ""},
        {DONT, 3, ""},
        {WILL, 23, ""},
        {WONT, 23, ""},
        {DONT, 23, ""},
        {WILL, 24, ""},
        {WONT, 24, ""},
        {DO, 24, Bytes({IAC, WILL, 24})},
        {DONT, 24, ""},
        {WILL, 25, ""},
        {WONT, 25, ""},
        {DO, 25, Bytes({IAC, WILL, 25})},
        {DONT, 25, ""},
        // Options the session does not know are refused, the window size (31) among them.
        {DO, 31, Bytes({IAC, WONT, 31})},
        {WILL, 31, Bytes({IAC, DONT, 31})},
        {WONT, 31, Bytes({IAC, WONT, 31})},
        {DONT, 31, Bytes({IAC, WONT, 31})},
        {DO, 200, Bytes({IAC, WONT, 200})},
        {WILL, 255, Bytes({IAC, DONT, 255})},
        // The answer comes again each time, whatever the option's state.
        {DO, 24, Bytes({IAC, WILL, 24})},
        {WILL, 3, Bytes({IAC, DO, 3})}};
    std::string request, expected;
    for (const Row& r : rows) {
        request += Bytes({IAC, r.verb, r.option});
        expected += r.answer;
    }
    server.Write(request);
    EXPECT_EQ(server.Read(expected.size()), expected);
    EXPECT_EQ(server.ReadFor(100), "");
    EXPECT_EQ(log.data, "");
    EXPECT_TRUE(log.events.empty());
}

TEST_F(TnCnxTest, TerminalTypeIsAnsweredAfterOnTermType)
{
    tn.OnTermType = [&](QObject* sender) {
        EXPECT_EQ(sender, &tn);
        log.events.push_back("termtype");
        tn.SetTermType("XTERM-TEST");  // the handler may still change the answer
    };
    server.Write(Bytes({IAC, DO, 24}));
    EXPECT_EQ(server.Read(3), Bytes({IAC, WILL, 24}));
    server.Write(Bytes({IAC, SB, 24, 1, IAC, SE}));
    const std::string answer = Bytes({IAC, SB, 24, 0}) + "XTERM-TEST" + Bytes({IAC, SE});
    EXPECT_EQ(server.Read(answer.size()), answer);
    EXPECT_EQ(log.events, std::vector<std::string>{"termtype"});

    // The default answer, and other or short sub-negotiations, which are not answered.
    tn.OnTermType = nullptr;
    tn.SetTermType("VT100");
    server.Write(Bytes({IAC, SB, 24, 1, IAC, SE}));
    const std::string vt100 = Bytes({IAC, SB, 24, 0}) + "VT100" + Bytes({IAC, SE});
    EXPECT_EQ(server.Read(vt100.size()), vt100);
    server.Write(Bytes({IAC, SB, 24, IAC, SE, IAC, SB, IAC, SE, IAC, SB,  31, 0,
                        80,  0,  24, IAC, SE, IAC, SB, 24,  0,  'x', IAC, SE}) +
                 "after");
    EXPECT_TRUE(ProcessEventsUntil([&] { return log.data == "after"; }, 5000)) << log.data;
    EXPECT_EQ(server.ReadFor(100), "");
}

TEST_F(TnCnxTest, EchoVerbsSetLocalEchoBeforeOneOnLocalEchoEach)
{
    server.Write(Bytes({IAC, WILL, 1}));
    EXPECT_EQ(server.Read(3), Bytes({IAC, DO, 1}));
    EXPECT_EQ(log.events, std::vector<std::string>{"localecho false"});
    EXPECT_FALSE(tn.LocalEcho());

    log.events.clear();
    server.Write(Bytes({IAC, WONT, 1}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !log.events.empty(); }, 5000));
    EXPECT_EQ(log.events, std::vector<std::string>{"localecho true"});
    EXPECT_TRUE(tn.LocalEcho());

    // DO and DONT ECHO change nothing but are reported; nothing is answered to WONT, DO, DONT.
    log.events.clear();
    server.Write(Bytes({IAC, DO, 1, IAC, DONT, 1}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.events.size() == 2; }, 5000));
    EXPECT_EQ(log.events, (std::vector<std::string>{"localecho true", "localecho true"}));
    EXPECT_EQ(server.ReadFor(100), "");
}

TEST_F(TnCnxTest, LocationIsSentAfterWillAndOnSendLoc)
{
    std::string seenAtEvent;
    tn.OnSendLoc = [&](QObject*) {
        // WILL SEND-LOCATION is on its way already, the location not yet.
        seenAtEvent = server.Read(3, 2000);
        tn.SetLocation("Lab 7");
    };
    server.Write(Bytes({IAC, DO, 23}));
    const std::string sb = Bytes({IAC, SB, 23}) + "Lab 7" + Bytes({IAC, SE});
    EXPECT_EQ(server.Read(sb.size()), sb);
    EXPECT_EQ(seenAtEvent, Bytes({IAC, WILL, 23}));

    // The default location, and a byte 255 in it, which goes out doubled.
    tn.OnSendLoc = nullptr;
    tn.SetLocation("TNCNX");
    server.Write(Bytes({IAC, DO, 23}));
    const std::string def = Bytes({IAC, WILL, 23, IAC, SB, 23}) + "TNCNX" + Bytes({IAC, SE});
    EXPECT_EQ(server.Read(def.size()), def);
    tn.SetLocation(Bytes({'a', 255, 'b'}));
    server.Write(Bytes({IAC, DO, 23}));
    const std::string esc = Bytes({IAC, WILL, 23, IAC, SB, 23, 'a', 255, 255, 'b', IAC, SE});
    EXPECT_EQ(server.Read(esc.size()), esc);
}

TEST_F(TnCnxTest, CommandsAreStrippedAndDataKeptInOrder)
{
    platform::ScopedDebugCapture trace;
    // IAC IAC is one data byte 255; IAC NOP and IAC GA are dropped; IAC EOR fires OnEndOfRecord;
    // the bytes 244..248 without IAC are data.
    server.Write("a" + Bytes({IAC, IAC}) + "b" + Bytes({IAC, 241}) + "c" + Bytes({IAC, 249}) +
                 Bytes({IAC, 239}) + Bytes({244, 245, 246, 247, 248}) + "d");
    const std::string expected = "a" + Bytes({255}) + "bc" + Bytes({244, 245, 246, 247, 248}) + "d";
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.data.size() >= expected.size(); }, 5000));
    EXPECT_EQ(log.data, expected);
    EXPECT_EQ(log.events, std::vector<std::string>{"eor"});
    EXPECT_TRUE(log.nulAfterEveryBlock);

    const QString text =
        QString::fromLatin1(trace.Text().data(), static_cast<qsizetype>(trace.Text().size()));
    const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    const QStringList wanted = {QStringLiteral("Unknown F1 '\u00F1'"),
                                QStringLiteral("Unknown F9 '\u00F9'"),
                                QStringLiteral("TNCH_EOR"),
                                QStringLiteral("TNCH_IP"),
                                QStringLiteral("TNCH_AO"),
                                QStringLiteral("TNCH_AYT"),
                                QStringLiteral("TNCH_EC"),
                                QStringLiteral("TNCH_EL")};
    ASSERT_EQ(lines.size(), wanted.size()) << text.toStdString();
    int previous = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // Each trace is preceded by its number: four upper-case hexadecimal digits and a blank.
        const QRegularExpression numbered(QStringLiteral("^([0-9A-F]{4}) (.*)$"),
                                          QRegularExpression::DotMatchesEverythingOption);
        const auto m = numbered.match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(2), wanted[i]);
        const int number = m.captured(1).toInt(nullptr, 16);
        if (previous >= 0) {
            EXPECT_EQ(number, previous + 1);
        }
        previous = number;
    }
}

TEST_F(TnCnxTest, CommandsSplitAcrossReadsAreHandledAsOne)
{
    // Each piece is read before the next one is written, so every cut is a read boundary.
    const std::vector<std::string> pieces = {
        "x" + Bytes({IAC}), Bytes({WILL, 1}), Bytes({IAC, DO}), Bytes({24}),     Bytes({IAC}),
        Bytes({IAC}) + "y", Bytes({IAC, SB}), Bytes({24}),      Bytes({1, IAC}), Bytes({SE}) + "z"};
    for (const std::string& piece : pieces) {
        server.Write(piece);
        ASSERT_TRUE(WaitUntilWaiting(tn, static_cast<int>(piece.size())));
        ProcessEventsUntil([&] { return tn.Socket()->RcvdCount() == 0; }, 5000);
    }
    const std::string answers =
        Bytes({IAC, DO, 1, IAC, WILL, 24}) + Bytes({IAC, SB, 24, 0}) + "VT100" + Bytes({IAC, SE});
    EXPECT_EQ(server.Read(answers.size()), answers);
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.data.size() >= 4; }, 5000));
    EXPECT_EQ(log.data, "x" + Bytes({255}) + "yz");
    EXPECT_EQ(log.Count("localecho false"), 1);
}

TEST_F(TnCnxTest, BlocksOf2048BytesAreDeliveredWholeWithANulAfterThem)
{
    std::string block(2048, '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>('A' + i % 26);
    server.Write(block);
    ASSERT_TRUE(WaitUntilWaiting(tn, 2048));
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.data.size() == 2048; }, 5000));
    EXPECT_EQ(log.blocks, std::vector<std::int32_t>{2048});
    EXPECT_EQ(log.data, block);
    EXPECT_TRUE(log.nulAfterEveryBlock);

    // A longer burst comes in blocks of at most 2048 bytes each; a NUL inside data is data.
    log.data.clear();
    log.blocks.clear();
    const std::string burst = block + block + std::string(3, '\0') + "end";
    server.Write(burst);
    ASSERT_TRUE(WaitUntilWaiting(tn, static_cast<int>(burst.size())));
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.data.size() == burst.size(); }, 5000));
    EXPECT_EQ(log.data, burst);
    EXPECT_EQ(log.blocks, (std::vector<std::int32_t>{2048, 2048, 6}));
}

TEST_F(TnCnxTest, SendDoublesDataByte255AndNegotiationGoesOutUnchanged)
{
    const std::string data = Bytes({'a', 255, 'b', 255, 255, 13, 10});
    EXPECT_EQ(tn.Send(data.data(), static_cast<std::int32_t>(data.size())), 7);
    EXPECT_EQ(tn.SendStr(Bytes({255})), 1);
    EXPECT_EQ(tn.SendStr("plain\r\n"), 7);
    EXPECT_EQ(tn.Send("", 0), 0);
    tn.DoOption(1);
    tn.DontOption(1);
    tn.SendNegotiation(WILL, 24);
    const std::string expected = Bytes({'a', 255, 255, 'b', 255, 255, 255, 255, 13, 10}) +
                                 Bytes({255, 255}) + "plain\r\n" +
                                 Bytes({IAC, DO, 1, IAC, DONT, 1, IAC, WILL, 24});
    EXPECT_EQ(server.Read(expected.size()), expected);
    EXPECT_EQ(server.ReadFor(100), "");
}

TEST_F(TnCnxTest, OverlongSubNegotiationIsCappedAndIgnored)
{
    // A terminal-type request followed by 100 KiB that never reaches SE: the collected part
    // stays at the cap, nothing is answered, and the data after the SE arrives.
    std::string request = Bytes({IAC, SB, 24, 1});
    request += std::string(100 * 1024, 'q');
    server.Write(request);
    ASSERT_TRUE(ProcessEventsUntil([&] { return tn.Socket()->RcvdCount() == 0; }, 5000));
    ProcessEventsFor(50);
    EXPECT_LE(tn.SubNegotiationSize(), TTnCnx::SubNegotiationLimit);
    EXPECT_EQ(log.data, "");

    platform::ScopedDebugCapture trace;
    server.Write(Bytes({IAC, SE}) + "data");
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.data == "data"; }, 5000)) << log.data;
    EXPECT_EQ(tn.SubNegotiationSize(), 0u);
    EXPECT_EQ(server.ReadFor(100), "");
    EXPECT_NE(trace.Text().find("Sub-negotiation too long"), std::string::npos);

    // One of exactly the cap is still answered.
    std::string atCap = Bytes({IAC, SB, 24, 1});
    atCap += std::string(TTnCnx::SubNegotiationLimit - 3, 'q') + Bytes({IAC, SE});
    server.Write(atCap);
    const std::string answer = Bytes({IAC, SB, 24, 0}) + "VT100" + Bytes({IAC, SE});
    EXPECT_EQ(server.Read(answer.size()), answer);
}

TEST_F(TnCnxTest, HandlerThatRaisesDoesNotCutTheBlockShort)
{
    tn.OnLocalEcho = [](QObject*) { throw std::runtime_error("handler failure"); };
    server.Write("ab" + Bytes({IAC, WILL, 1}) + "cd" + Bytes({IAC, DO, 24}) + "ef");
    EXPECT_EQ(server.Read(6), Bytes({IAC, DO, 1, IAC, WILL, 24}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.data.size() >= 6; }, 5000));
    EXPECT_EQ(log.data, "abcdef");
    EXPECT_FALSE(tn.LocalEcho());
    // The session goes on with the next block.
    server.Write("gh");
    EXPECT_TRUE(ProcessEventsUntil([&] { return log.data == "abcdefgh"; }, 5000));
}

TEST_F(TnCnxTest, AnswersDueAfterTheOwnerClosedAreDropped)
{
    tn.OnLocalEcho = [&](QObject*) {
        log.events.push_back("localecho");
        tn.Close();
    };
    platform::ScopedDebugCapture trace;
    server.Write(Bytes({IAC, WILL, 1, IAC, DO, 31}) + "rest");
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.data == "rest"; }, 5000)) << log.data;
    EXPECT_EQ(log.events, (std::vector<std::string>{"localecho", "closed 0"}));
    EXPECT_EQ(tn.State(), wsClosed);
    EXPECT_NE(trace.Text().find("Not connected, answer dropped"), std::string::npos);
    // The server got the answer given before the close, and then the end of the connection.
    bool closed = false;
    EXPECT_EQ(testsupport::ReadUntilClosed(server.peer, 2000, &closed), Bytes({IAC, DO, 1}));
    EXPECT_TRUE(closed);
}

TEST_F(TnCnxTest, PeerCloseIsDisplayedThenReported)
{
    server.Write("bye");
    server.peer.Reset();
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.Count("closed 0") == 1; }, 5000));
    EXPECT_EQ(log.data, "bye");
    EXPECT_EQ(log.events, (std::vector<std::string>{"display \r\n**** Remote has closed ****\r\n",
                                                    "closed 0"}));
    EXPECT_EQ(tn.State(), wsClosed);
    ProcessEventsFor(100);
    EXPECT_EQ(log.events.size(), 2u);
}

TEST_F(TnCnxTest, ResetByThePeerIsDisplayedAsAnError)
{
    testsupport::ResetConnection(server.peer);
    ASSERT_TRUE(ProcessEventsUntil([&] { return tn.State() == wsClosed; }, 5000));
    ProcessEventsFor(50);
    ASSERT_EQ(log.events.size(), 2u) << ::testing::PrintToString(log.events);
    EXPECT_EQ(log.events[0], "display \r\n**** ERROR: 10054 ****\r\n");
    EXPECT_EQ(log.events[1], "closed 10054");
}

TEST_F(TnCnxTest, ConnectOnAnOpenSessionClosesTheOldConnectionFirst)
{
    TSocketState stateAtClose = wsInvalidState;
    tn.OnSessionClosed = [&](TTnCnx*, std::uint16_t e) {
        stateAtClose = tn.State();
        log.events.push_back("closed " + std::to_string(e));
    };
    // The old connection ends inside a sub-negotiation; the new one starts with a fresh parser.
    server.Write(Bytes({IAC, SB, 24}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return tn.SubNegotiationSize() == 1; }, 5000));

    ScriptedServer second;
    second.listener = testsupport::ListenLoopback(second.port);
    tn.SetPort(std::to_string(second.port));
    tn.Connect();
    EXPECT_EQ(log.events, std::vector<std::string>{"closed 0"});
    EXPECT_EQ(stateAtClose, wsClosed);
    EXPECT_EQ(tn.State(), wsConnecting);
    second.peer = testsupport::AcceptWithin(second.listener, 5000);
    ASSERT_TRUE(second.peer.Valid());
    ASSERT_TRUE(ProcessEventsUntil([&] { return tn.State() == wsConnected; }, 5000));
    EXPECT_EQ(log.events, (std::vector<std::string>{"closed 0", "connected 0"}));
    bool closed = false;
    testsupport::ReadUntilClosed(server.peer, 2000, &closed);
    EXPECT_TRUE(closed);

    second.Write("hello");
    EXPECT_TRUE(ProcessEventsUntil([&] { return log.data == "hello"; }, 5000)) << log.data;
}

TEST(TnCnxConnect, RefusedConnectReportsTheErrorThenClosed)
{
    TTnCnx tn;
    SessionLog log;
    log.Attach(tn);
    const std::uint16_t port = testsupport::FreeTcpPort();
    tn.SetHost("127.0.0.1");
    tn.SetPort(std::to_string(port));
    tn.Connect();
    ASSERT_TRUE(ProcessEventsUntil([&] { return log.events.size() >= 2; }, 5000));
    EXPECT_EQ(log.events, (std::vector<std::string>{"connected 10061", "closed 0"}));
    EXPECT_EQ(tn.State(), wsClosed);
    ProcessEventsFor(100);
    EXPECT_EQ(log.events.size(), 2u);
}

TEST(TnCnxConnect, CallerErrorsRaiseTheSocketException)
{
    TTnCnx tn;
    SessionLog log;
    log.Attach(tn);
    tn.SetHost("no-such-host.invalid");
    tn.SetPort("23");
    EXPECT_THROW(tn.Connect(), ESocketException);
    tn.SetHost("127.0.0.1");
    tn.SetPort("no-such-service-name");
    EXPECT_THROW(tn.Connect(), ESocketException);
    EXPECT_EQ(tn.State(), wsClosed);
    // Sending without a connection is a caller's error too.
    EXPECT_THROW(tn.SendStr("x"), ESocketException);
    ProcessEventsFor(50);
    EXPECT_TRUE(log.events.empty());
}

TEST(TnCnxConnect, DefaultsAndServiceNamePort)
{
    TTnCnx tn;
    EXPECT_EQ(tn.Port(), "23");
    EXPECT_EQ(tn.Host(), "");
    EXPECT_EQ(tn.Location(), "TNCNX");
    EXPECT_EQ(tn.TermType(), "VT100");
    EXPECT_FALSE(tn.LocalEcho());
    EXPECT_EQ(tn.State(), wsClosed);
    ASSERT_NE(tn.Socket(), nullptr);
    // "telnet" is a service name: the socket layer turns it into port 23.
    tn.SetHost("127.0.0.1");
    tn.SetPort("telnet");
    SessionLog log;
    log.Attach(tn);
    tn.Connect();
    EXPECT_EQ(tn.Socket()->PortNum(), 23);
    tn.Close();
    ProcessEventsFor(20);
}

TEST(TnCnxSessions, TwoSessionsKeepTheirOwnParserState)
{
    TTnCnx a, b;
    SessionLog la, lb;
    la.Attach(a);
    lb.Attach(b);
    ScriptedServer sa, sb;
    ASSERT_TRUE(sa.Connect(a));
    ASSERT_TRUE(sb.Connect(b));
    // a is left with an IAC pending, b with a verb pending; each completes its own.
    sa.Write("1" + Bytes({IAC}));
    sb.Write("2" + Bytes({IAC, DO}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return la.data == "1" && lb.data == "2"; }, 5000));
    sb.Write(Bytes({24}) + "b");
    sa.Write(Bytes({IAC}) + "a");
    EXPECT_EQ(sb.Read(3), Bytes({IAC, WILL, 24}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return la.data.size() == 3 && lb.data == "2b"; }, 5000));
    EXPECT_EQ(la.data, "1" + Bytes({255}) + "a");
    EXPECT_EQ(sa.ReadFor(50), "");
}

}  // namespace
