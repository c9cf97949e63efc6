// The page a sender and a recipient use, in headless Chromium: the maker's link opens the same card
// in a new page, pause, mute and a hidden tab stop the scene and the tune together, hostile links
// run nothing and fetch nothing from elsewhere, the page's own policy forbids inline code, and the
// maker fits a phone 360 CSS pixels wide.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/WebSingleFile.h"
#include "tests/support/Browser.h"
#include "tests/support/Files.h"
#include "tests/web/WebExported.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using wgtest::Chromium;
using wgtest::JsonQuote;

const char* const kBuiltInTitle = "С НОВЫМ 2007 ГОДОМ! — A New Year greeting";

std::string Base64Url(const std::string& bytes) {
  static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    if (i + 1 < bytes.size()) out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

// RFC 4648 base64 with its padding, as a page embeds a file.
std::string Base64(const std::string& bytes) {
  std::string out = Base64Url(bytes);
  for (char& c : out) c = c == '-' ? '+' : c == '_' ? '/' : c;
  return out + std::string((4 - out.size() % 4) % 4, '=');
}

// The default greeting's export: it offers the built-in tune and ground and the example card's.
const std::string& PageWithChoices() {
  return wgtest::ExportedPage();
}

// Opens `url` and waits for the page to offer the greeting.
void OpenPage(Chromium& browser, const std::string& url) {
  browser.Navigate(url);
  ASSERT_TRUE(browser.WaitFor("!document.getElementById('open').hidden", 120s))
      << "no open control appeared: "
      << browser.Evaluate("document.getElementById('note').textContent").str();
}

// Sets a field of the page as typing does: its value, then the input and change events.
void Type(Chromium& browser, const std::string& id, const std::string& value) {
  browser.Evaluate("(() => { const f = document.getElementById(" + JsonQuote(id) +
                   "); f.focus(); f.value = " + JsonQuote(value) +
                   "; f.dispatchEvent(new Event('input', {bubbles: true})); "
                   "f.dispatchEvent(new Event('change', {bubbles: true})); return true; })()");
}

void ClickOpen(Chromium& browser) {
  const wgtest::Json box = browser.Evaluate(
      "(() => { const b = document.getElementById('open').getBoundingClientRect(); "
      "return [b.x + b.width / 2, b.y + b.height / 2]; })()");
  browser.Click(box[0].num(), box[1].num());
  ASSERT_TRUE(browser.WaitFor("document.getElementById('overlay').hidden", 10s));
}

// Every URL the page asked for lies in the served folder (or is the page's own data or blob).
void ExpectOnlyOwnRequests(const Chromium& browser, const wgtest::StaticServer& server) {
  const std::string base = server.Url("/");
  for (const std::string& url : browser.RequestedUrls())
    if (url.rfind("data:", 0) != 0 && url.rfind("blob:" + base, 0) != 0) {
      EXPECT_EQ(url.rfind(base, 0), 0u) << url;
    }
}

TEST(WebShare, TheMakersLinkOpensTheSameCardInANewPage) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(PageWithChoices());
  Chromium browser;
  OpenPage(browser, server.Url("/#make"));
  ASSERT_FALSE(browser.Evaluate("document.getElementById('maker').hidden").boolean())
      << "#make opens no maker";
  EXPECT_EQ(browser.Evaluate("document.getElementById('m-tune').options.length").num(), 2);
  EXPECT_EQ(browser.Evaluate("document.getElementById('m-tune').options[0].textContent").str(),
            "В лесу родилась ёлочка");
  const std::string greeting = "С Новым годом, Аня! 🎄 <b>&amp;";
  Type(browser, "m-greeting", greeting);
  Type(browser, "m-credits", "От Пети\n\nИ от Маши");
  Type(browser, "m-tune", "jingle-bells");
  const std::string link = browser.Evaluate("document.getElementById('m-link').value").str();
  ASSERT_EQ(link.rfind(server.Url("/") + "#1.", 0), 0u) << link;
  // The live preview writes the texts for the runtime a moment after the last change.
  EXPECT_TRUE(browser.WaitFor(
      "wgPage.file('/greeting/link.txt') === " + JsonQuote(greeting + "\nОт Пети\nИ от Маши"), 30s));
  EXPECT_TRUE(
      browser.Evaluate("document.getElementById('m-email').href.startsWith('mailto:?subject=')").boolean());
  EXPECT_TRUE(browser
                  .Evaluate("document.getElementById('m-whatsapp').href === 'https://wa.me/?text=' + "
                            "encodeURIComponent(document.getElementById('m-link').value)")
                  .boolean());

  Chromium recipient;
  OpenPage(recipient, link);
  EXPECT_EQ(recipient.Evaluate("document.title").str(), greeting);
  EXPECT_EQ(recipient.Evaluate("wgPage.file('/greeting/link.txt')").str(), greeting + "\nОт Пети\nИ от Маши");
  EXPECT_EQ(recipient.Evaluate("document.documentElement.lang").str(),
            recipient.Evaluate("navigator.language").str());
  EXPECT_TRUE(recipient.Evaluate("document.getElementById('maker').hidden").boolean());
  EXPECT_EQ(recipient.Evaluate("document.getElementById('notes').textContent").str(), "");
  // The maker opened from the link starts from its card and gives the same link back.
  recipient.Evaluate("document.getElementById('make').click(), true");
  EXPECT_EQ(recipient.Evaluate("document.getElementById('m-tune').value").str(), "jingle-bells");
  EXPECT_EQ(recipient.Evaluate("document.getElementById('m-link').value").str(), link);

  // A new link in the same page: the new greeting, and the built-in one once the fragment goes.
  recipient.Evaluate("location.hash = '#1." + Base64Url("g\tЕщё раз") + "', true");
  EXPECT_TRUE(recipient.WaitFor("document.title === 'Ещё раз'", 30s));
  recipient.Evaluate("location.hash = '', true");
  EXPECT_TRUE(recipient.WaitFor("document.title === " + JsonQuote(kBuiltInTitle), 30s));
  EXPECT_TRUE(recipient.Evaluate("wgPage.file('/greeting/link.txt') === null").boolean());
  EXPECT_EQ(recipient.Evaluate("document.documentElement.lang").str(), "ru");
  for (const std::string& line : browser.Console()) ADD_FAILURE() << "console: " << line;
}

// The state the page's greeting is in: its frames drawn, its scene's clock (ms) and where its tune
// stands (s).
struct Playing {
  double frames = 0, scene = 0, tune = 0;
  bool paused = false;
};
Playing Now(Chromium& browser) {
  const wgtest::Json v = browser.Evaluate(
      "[wgPage.framesDrawn(), wgPage.sceneMs(), document.getElementById('tune').currentTime, "
      "document.getElementById('tune').paused]");
  return {v[0].num(), v[1].num(), v[2].num(), v[3].boolean()};
}

// Hides or shows the tab as the browser tells a page.
void SetHidden(Chromium& browser, bool hidden) {
  const std::string h = hidden ? "true" : "false";
  browser.Evaluate("Object.defineProperty(document, 'hidden', {configurable: true, get: () => " + h +
                   "}); document.dispatchEvent(new Event('visibilitychange')), true");
}

void MarkResume(Chromium& browser) {
  browser.Evaluate("window.wgResumedAt = performance.now(), true");
}

// Pausing stands the scene and the tune still together, and both go on from where they stood.
void ExpectStandsStill(Chromium& browser, const char* what) {
  const Playing before = Now(browser);
  std::this_thread::sleep_for(3000ms);
  const Playing after = Now(browser);
  EXPECT_TRUE(after.paused) << what;
  EXPECT_EQ(after.frames, before.frames) << what << ": the scene moved";
  EXPECT_EQ(after.scene, before.scene) << what << ": the scene's clock moved";
  EXPECT_EQ(after.tune, before.tune) << what << ": the tune moved";
}
void ExpectGoesOn(Chromium& browser, const Playing& from, const char* what) {
  EXPECT_TRUE(browser.WaitFor("wgPage.framesDrawn() > " + std::to_string(from.frames) +
                                  " && document.getElementById('tune').currentTime > " +
                                  std::to_string(from.tune + 0.2),
                              30s))
      << what;
  // The page's own clock since just before the greeting was asked to play on, read in one task with
  // the scene's clock.
  const wgtest::Json clocks = browser.Evaluate(
      "[wgPage.sceneMs(), performance.now() - wgResumedAt, document.getElementById('tune').currentTime]");
  EXPECT_GE(clocks[2].num(), from.tune) << what << ": the tune started over";
  // The scene's clock went on from where it stood rather than jumping over the pause (which lasted
  // more than 3000 ms): it advanced by the time since plus at most the time between the last frame
  // and the pause (a frame of the software renderer under load: well under 1500 ms).
  EXPECT_LT(clocks[0].num() - from.scene, clocks[1].num() + 1500) << what << ": the scene jumped";
}

TEST(WebControls, PauseMuteAndAHiddenTabStopTheSceneAndTheTuneTogether) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(wgtest::ExportedPage());
  Chromium browser;
  OpenPage(browser, server.Url("/"));
  EXPECT_TRUE(browser.Evaluate("document.getElementById('controls').hidden").boolean());
  ClickOpen(browser);
  ASSERT_TRUE(browser.WaitFor("document.getElementById('tune').currentTime > 0.3", 60s)) << "no tune";
  // A mouse move shows the controls (asked in the same task: they hide again 3 s later).
  EXPECT_TRUE(browser
                  .Evaluate("document.dispatchEvent(new PointerEvent('pointermove')), "
                            "!document.getElementById('controls').hidden")
                  .boolean());
  EXPECT_EQ(browser.Evaluate("document.getElementById('pause').getAttribute('aria-label')").str(), "Pause");

  // The pause button.
  browser.Evaluate("document.getElementById('pause').click(), true");
  EXPECT_EQ(browser.Evaluate("document.getElementById('pause').getAttribute('aria-pressed')").str(), "true");
  ExpectStandsStill(browser, "after the pause button");
  const Playing paused = Now(browser);
  // K plays on.
  MarkResume(browser);
  browser.Key("rawKeyDown", "k", 75);
  browser.Key("keyUp", "k", 75);
  ExpectGoesOn(browser, paused, "after K");
  EXPECT_EQ(browser.Evaluate("document.getElementById('pause').getAttribute('aria-pressed')").str(), "false");

  // M mutes and unmutes the tune, which plays on.
  browser.Key("rawKeyDown", "m", 77);
  browser.Key("keyUp", "m", 77);
  EXPECT_TRUE(browser.Evaluate("document.getElementById('tune').muted").boolean());
  EXPECT_EQ(browser.Evaluate("document.getElementById('mute').getAttribute('aria-pressed')").str(), "true");
  EXPECT_FALSE(browser.Evaluate("document.getElementById('tune').paused").boolean());
  browser.Evaluate("document.getElementById('mute').click(), true");
  EXPECT_FALSE(browser.Evaluate("document.getElementById('tune').muted").boolean());

  // A hidden tab pauses both and showing it plays both on.
  SetHidden(browser, true);
  ExpectStandsStill(browser, "while the tab is hidden");
  const Playing hidden = Now(browser);
  MarkResume(browser);
  SetHidden(browser, false);
  ExpectGoesOn(browser, hidden, "once the tab is shown");

  // A greeting paused by hand stays paused when its hidden tab is shown again.
  browser.Evaluate("document.getElementById('pause').click(), true");
  SetHidden(browser, true);
  SetHidden(browser, false);
  ExpectStandsStill(browser, "paused by hand, hidden and shown");
  for (const std::string& line : browser.Console()) ADD_FAILURE() << "console: " << line;
}

struct Hostile {
  std::string fragment, title;
  bool note;
};

TEST(WebLink, HostileLinksRunNothingFetchNothingElseAndShowTheBuiltInCardOrTheirValidPart) {
  SKIP_WITHOUT_BROWSER();
  const std::string markup = "<img src=x onerror=\"window.wgHacked = 1\">";
  const std::vector<Hostile> links = {
      {"#1." + Base64Url("g\t" + markup + "\nc\t<script>window.wgHacked = 2</script>"), markup, false},
      {"#javascript:window.wgHacked=3", kBuiltInTitle, true},
      {"#1." + Base64Url("g\t&lt;b&gt;&amp;&#x41;"), "&lt;b&gt;&amp;&#x41;", false},
      {"#1." + std::string(100000, 'Q'), kBuiltInTitle, true},
      {"#%E0%A4%A", kBuiltInTitle, true},
      {"#1." + Base64Url("g\t\xff\xfe\xc0\x80"), kBuiltInTitle, true},
      {"#9." + Base64Url("g\tfrom the future"), kBuiltInTitle, true},
      {"#1." + Base64Url("g\tHello\nt\tno-such-tune\ns\tBAD NAME\nm\t../../etc"), "Hello", true},
      {"#1." + Base64Url("g\t\u202Eabc"), "\u202Eabc\u202C", true},
  };
  wgtest::StaticServer server(wgtest::ExportedPage());
  Chromium browser;
  for (std::size_t i = 0; i < links.size(); ++i) {
    const Hostile& h = links[i];
    SCOPED_TRACE("link " + std::to_string(i) + ": " + h.fragment.substr(0, 80));
    OpenPage(browser, server.Url("/index.html?case=" + std::to_string(i)) + h.fragment);
    EXPECT_EQ(browser.Evaluate("document.title").str(), h.title);
    EXPECT_TRUE(browser.Evaluate("window.wgHacked === undefined").boolean()) << "the link's markup ran";
    EXPECT_EQ(browser.Evaluate("document.querySelectorAll('img').length").num(), 0)
        << "markup entered the page";
    EXPECT_EQ(browser.Evaluate("document.getElementById('notes').textContent !== ''").boolean(), h.note);
    if (h.title == kBuiltInTitle) {
      EXPECT_TRUE(browser.Evaluate("wgPage.file('/greeting/link.txt') === null").boolean());
    }
  }
  ExpectOnlyOwnRequests(browser, server);
  for (const std::string& path : server.Requests()) EXPECT_EQ(path.find(".."), std::string::npos) << path;
}

TEST(WebPage, ThePagesPolicyAllowsItsOwnFilesAndNoInlineCode) {
  SKIP_WITHOUT_BROWSER();
  const std::string html = wgtest::Slurp(wgtest::ExportedPage() + "/index.html");
  // Inline code runs only where the policy names its hash: the page's one inline script (which
  // fetches the page's compressed script and runs it), that script, and the runtime's script, which
  // the page also runs from its compressed copy; nothing else.
  const std::size_t open = html.find("<script>"), close = html.find("</script>", open);
  ASSERT_NE(open, std::string::npos);
  EXPECT_EQ(html.find("<script", open + 1), std::string::npos) << "one script element";
  const std::string loader = html.substr(open + 8, close - open - 8);
  const std::size_t policyAt = html.find("script-src 'self' " + app::CspHashSource(loader) + " 'sha256-");
  ASSERT_NE(policyAt, std::string::npos) << html.substr(0, 1200);
  const std::size_t hashAt = policyAt + std::string("script-src 'self' ").size() + app::CspHashSource(loader).size() + 1;
  const std::string scriptHash = html.substr(hashAt, html.find(' ', hashAt) - hashAt);
  EXPECT_NE(
      html.find("script-src 'self' " + app::CspHashSource(loader) + " " + scriptHash + " " +
                app::CspHashSource(wgtest::Slurp(wgtest::AppDir() + "/web/runtime.js")) +
                " 'wasm-unsafe-eval'; style-src 'self'; img-src 'self' data: blob:; media-src 'self' "
                "blob:; connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'none'\">"),
      std::string::npos);
  // The exporter puts the link previews' tags where the built page marks their place.
  EXPECT_NE(wgtest::Slurp(wgtest::AppDir() + "/web/index.html").find("</title>\n<!--%HEAD%-->"), std::string::npos);
  EXPECT_EQ(html.find("<!--%HEAD%-->"), std::string::npos);
  EXPECT_NE(html.find("<meta property=\"og:image\""), std::string::npos);
  EXPECT_EQ(html.find("<style"), std::string::npos);
  EXPECT_EQ(html.find(" style="), std::string::npos);
  wgtest::StaticServer server(wgtest::ExportedPage());
  Chromium browser;
  OpenPage(browser, server.Url("/"));
  // The page's stylesheet applies (its own file), and inline code of any kind does not run.
  EXPECT_EQ(browser.Evaluate("getComputedStyle(document.getElementById('scene')).position").str(), "fixed");
  // The second hash is that of the page's script as the page inflates it.
  EXPECT_EQ(browser
                .Evaluate("(async () => { const r = await fetch('page.js'); const text = await new Response("
                          "new Blob([await r.arrayBuffer()]).stream().pipeThrough(new DecompressionStream("
                          "'gzip'))).text(); const d = await crypto.subtle.digest('SHA-256', new TextEncoder()"
                          ".encode(text)); return \"'sha256-\" + btoa(String.fromCharCode(...new Uint8Array(d)))"
                          " + \"'\"; })()")
                .str(),
            scriptHash);
  // Tried from a task of the page's own, outside the evaluation the browser's tools allow.
  const wgtest::Json evaluated = browser.Evaluate(
      "new Promise((resolve) => setTimeout(() => { const name = (f) => { try { f(); return 'ran'; } "
      "catch (e) { return e.name; } }; resolve([name(() => eval('1 + 1')), name(() => new Function('return "
      "2')())]); }, 0))");
  EXPECT_EQ(evaluated[0].str(), "EvalError");
  EXPECT_EQ(evaluated[1].str(), "EvalError");
  const wgtest::Json blocked = browser.Evaluate(
      "new Promise((resolve) => { const seen = []; "
      "document.addEventListener('securitypolicyviolation', (e) => seen.push(e.effectiveDirective)); "
      "const b = document.createElement('button'); b.setAttribute('onclick', 'window.wgInline = 1'); "
      "document.body.appendChild(b); b.click(); "
      "const s = document.createElement('script'); s.textContent = 'window.wgInline = 2'; "
      "document.body.appendChild(s); "
      "setTimeout(() => resolve([window.wgInline === undefined, seen.join(' ')]), 300); })");
  EXPECT_TRUE(blocked[0].boolean()) << "inline code ran";
  EXPECT_EQ(blocked[1].str(), "script-src-attr script-src-elem");
}

TEST(WebMaker, OnAPhone360PixelsWideTheMakerHasNoSideScrollAndEveryControlIsReachable) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(PageWithChoices());
  Chromium browser;
  browser.Emulate(360, 740, 2, true);
  OpenPage(browser, server.Url("/#make"));
  ASSERT_FALSE(browser.Evaluate("document.getElementById('maker').hidden").boolean());
  Type(browser, "m-greeting", "A greeting long enough to fill the whole width of a small phone's field");
  Type(browser, "m-credits", std::string(300, 'W'));
  EXPECT_LE(browser.Evaluate("document.documentElement.scrollWidth").num(), 360);
  EXPECT_LE(browser.Evaluate("document.getElementById('maker').scrollWidth").num(), 360);
  const char* controls[] = {"m-greeting", "m-credits", "m-tune",     "m-ground",   "m-link",
                            "m-copy",     "m-email",   "m-whatsapp", "m-telegram", "m-close"};
  for (const char* id : controls) {
    SCOPED_TRACE(id);
    // Scrolled into view, it lies within the window, is the element found at its middle, and can
    // take the keyboard's focus; a field has a label tied to it.
    const wgtest::Json c = browser.Evaluate(
        "(() => { const e = document.getElementById(" + JsonQuote(id) +
        "); e.scrollIntoView({block: 'center'}); const b = e.getBoundingClientRect(); "
        "const hit = document.elementFromPoint(b.x + b.width / 2, b.y + b.height / 2); e.focus(); "
        "return [b.left, b.right, b.top, b.bottom, hit === e || e.contains(hit), document.activeElement === "
        "e, "
        "['INPUT', 'TEXTAREA', 'SELECT'].includes(e.tagName) ? e.labels.length : 1, b.height]; })()");
    EXPECT_GE(c[0].num(), 0);
    EXPECT_LE(c[1].num(), 360);
    EXPECT_GE(c[2].num(), 0);
    EXPECT_LE(c[3].num(), 740);
    EXPECT_TRUE(c[4].boolean()) << "covered";
    EXPECT_TRUE(c[5].boolean()) << "takes no focus";
    EXPECT_NE(c[6].num(), 0) << "no label";
    EXPECT_GE(c[7].num(), 44) << "too small to touch";
  }
  // A line too long is refused with a message the screen reader announces, and no link is offered.
  Type(browser, "m-greeting", std::string(401, 'x'));
  EXPECT_EQ(browser.Evaluate("document.getElementById('m-greeting').getAttribute('aria-invalid')").str(),
            "true");
  EXPECT_EQ(browser.Evaluate("document.getElementById('e-greeting').getAttribute('role')").str(), "alert");
  EXPECT_EQ(browser.Evaluate("document.getElementById('e-greeting').textContent").str(),
            "At most 400 characters: 401 now.");
  EXPECT_EQ(browser.Evaluate("document.getElementById('m-link').value").str(), "");
  EXPECT_TRUE(browser.Evaluate("document.getElementById('m-copy').disabled").boolean());
}

// A page that carries its files inside itself, as one file does: every file the page would fetch
// is an element of the page (runtime.wasm too), taken from there and never asked of the server.
TEST(WebPage, APageCarryingItsFilesTakesThemFromItselfAndAsksForNone) {
  SKIP_WITHOUT_BROWSER();
  const std::string page = wgtest::ScratchDir("web-share-carried") + "/page";
  fs::copy(wgtest::ExportedPage(), page, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  std::string carried;
  std::vector<std::string> urls{"runtime.wasm"};
  for (const auto& e : fs::recursive_directory_iterator(page + "/greeting"))
    if (e.is_regular_file()) urls.push_back(fs::relative(e.path(), page).generic_string());
  for (const std::string& url : urls) {
    carried += "<script type=\"application/octet-stream\" data-url=\"" + url + "\">" +
               Base64(wgtest::Slurp(page + "/" + url)) + "</script>\n";
    fs::remove(page + "/" + url);
  }
  std::string html = wgtest::Slurp(page + "/index.html");
  // One file has no tags asking the server for files ahead of the script.
  for (std::size_t at; (at = html.find("<link rel=\"preload\"")) != std::string::npos;)
    html.erase(at, html.find('\n', at) + 1 - at);
  html.insert(html.find("<script>"), carried);
  std::ofstream(page + "/index.html") << html;

  wgtest::StaticServer server(page);
  Chromium browser;
  OpenPage(browser, server.Url("/"));
  for (const std::string& path : server.Requests())
    for (const std::string& url : urls)
      EXPECT_NE(path, "/" + url) << "asked the server for a file it carries";
  EXPECT_GE(urls.size(), 12u);
  // The tune plays from the page's own copy of its recording.
  EXPECT_GT(
      browser
          .Evaluate("new Promise(r => { const a = document.getElementById('tune'); "
                    "if (a.readyState >= 1) r(a.duration); else a.onloadedmetadata = () => r(a.duration); })")
          .num(),
      10);
  EXPECT_EQ(browser.Evaluate("document.getElementById('tune').src.slice(0, 5)").str(), "blob:");
  ClickOpen(browser);
  EXPECT_TRUE(browser.WaitFor("wgPage.framesDrawn() > 5", 30s)) << "the greeting does not play";
}

// The browser takes the canvas's WebGL context away: the greeting pauses, says why once it has not
// come back for a while, and plays again from the start when it does come back.
TEST(WebControls, ALostGraphicsContextPausesExplainsAndStartsAgainWhenRestored) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(wgtest::ExportedPage());
  Chromium browser;
  OpenPage(browser, server.Url("/"));
  ClickOpen(browser);
  ASSERT_TRUE(browser.WaitFor("wgPage.framesDrawn() > 3", 30s));
  browser.Evaluate(
      "window.wgLose = "
      "document.getElementById('scene').getContext('webgl2').getExtension('WEBGL_lose_context'), "
      "wgLose.loseContext(), true");
  ASSERT_TRUE(browser.WaitFor("wgPage.state() === 'paused'", 30s))
      << browser.Evaluate("wgPage.state() + ': ' + document.getElementById('note').textContent").str();
  EXPECT_TRUE(browser.Evaluate("document.getElementById('tune').paused").boolean());
  ASSERT_TRUE(browser.WaitFor("!document.getElementById('reload').hidden", 20s)) << "no explanation";
  EXPECT_EQ(browser.Evaluate("document.getElementById('note').textContent").str(),
            "The browser took the graphics away from the page (another page or app needed them). Reload the "
            "page to see the greeting again.");
  browser.Evaluate("wgLose.restoreContext(), true");
  ASSERT_TRUE(browser.WaitFor("wgPage.state() === 'running'", 20s))
      << browser.Evaluate("document.getElementById('note').textContent").str();
  const double frames = browser.Evaluate("wgPage.framesDrawn()").num();
  EXPECT_TRUE(browser.WaitFor("wgPage.framesDrawn() > " + std::to_string(frames + 3), 30s));
  EXPECT_TRUE(browser.Evaluate("document.getElementById('reload').hidden").boolean());
  EXPECT_TRUE(browser.Evaluate("document.getElementById('overlay').hidden").boolean());
}

// The folder opened from the disk, as one saved from an attachment is: the page cannot load its
// files there, and tells the reader to open the link instead of suggesting a web server.
TEST(WebPage, OpenedAsAFileThePageAsksForTheLinkInstead) {
  SKIP_WITHOUT_BROWSER();
  Chromium browser;
  browser.Navigate("file://" + fs::absolute(wgtest::ExportedPage()).string() + "/index.html");
  ASSERT_TRUE(browser.WaitFor("document.getElementById('note').textContent.includes('link')", 30s));
  EXPECT_EQ(
      browser.Evaluate("document.getElementById('note').textContent").str(),
      "This greeting is a web page that opens from its link. Open the link you were sent (in the message "
      "or e-mail) instead of the saved file.");
  EXPECT_TRUE(browser.Evaluate("document.getElementById('open').hidden").boolean());
}

// A reader whose browser asks for Russian gets the page's words in Russian; the loading bar has
// counted every byte the page fetched.
TEST(WebPage, TheWordsFollowTheBrowsersLanguageAndTheProgressCountsEveryByte) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(wgtest::ExportedPage());
  Chromium browser({"--accept-lang=ru-RU,ru"});
  OpenPage(browser, server.Url("/"));
  EXPECT_EQ(browser.Evaluate("navigator.languages[0]").str(), "ru-RU");
  EXPECT_EQ(browser.Evaluate("document.getElementById('open').textContent").str(), "▶ Открыть открытку");
  EXPECT_EQ(browser.Evaluate("document.getElementById('make').textContent").str(), "✎ Сделать свою");
  EXPECT_EQ(browser.Evaluate("document.getElementById('pause').getAttribute('aria-label')").str(), "Пауза");
  // The bar ends full, at the bytes of the manifest, the runtime's code and the files it loaded.
  const wgtest::Json bar = browser.Evaluate(
      "[document.getElementById('progress').value, document.getElementById('progress').max, "
      "document.getElementById('progress').hidden, "
      "document.getElementById('progress-text').getAttribute('aria-live')]");
  EXPECT_EQ(bar[0].num(), bar[1].num());
  EXPECT_GT(bar[1].num(), static_cast<double>(fs::file_size(wgtest::ExportedPage() + "/runtime.wasm")));
  EXPECT_TRUE(bar[2].boolean()) << "the bar stays after loading";
  EXPECT_EQ(bar[3].str(), "polite");
}

}  // namespace

namespace {

// A steady frame of the page waits on no round trip to the GPU process: after the first frames it
// asks WebGL for no error, no parameter and no pixels (the calls are counted by wrapping the context's
// own methods before the page runs).
TEST(WebFrameCalls, SteadyFramesAskTheContextNothing) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(wgtest::ExportedPage());
  Chromium browser;
  browser.AddScriptOnNewDocument(
      "window.wgCalls = {};"
      "for (const name of ['getError', 'getParameter', 'readPixels', 'getShaderParameter', "
      "'getProgramParameter']) {"
      "  const f = WebGL2RenderingContext.prototype[name];"
      "  WebGL2RenderingContext.prototype[name] = function(...a) {"
      "    wgCalls[name] = (wgCalls[name] || 0) + 1; return f.apply(this, a); };"
      "}");
  OpenPage(browser, server.Url("/"));
  EXPECT_GT(browser.Evaluate("wgCalls.getError || 0").num(), 0) << "start-up still checks for errors";
  ClickOpen(browser);
  ASSERT_TRUE(browser.WaitFor("wgPage.framesDrawn() > 5", 30s));
  const double from = browser.Evaluate("(() => { window.wgCalls = {}; return wgPage.framesDrawn(); })()").num();
  ASSERT_TRUE(browser.WaitFor("wgPage.framesDrawn() > " + std::to_string(from + 20), 60s));
  EXPECT_EQ(browser.Evaluate("JSON.stringify(wgCalls)").str(), "{}") << "in 20 steady frames";
}

}  // namespace

namespace {

// Counts every WebGL2 call and the bytes each upload hands the context (buffer data, texture
// images; four bytes a texel, as every texture of the page is RGBA8).
const char* const kCountWebGl = R"js(
window.wgGl = {calls: 0, bytes: 0, byName: {}};
(() => {
  const proto = WebGL2RenderingContext.prototype;
  // The bytes of srcData from srcOffset, `length` elements of it where given.
  const from = (src, offset, length) => {
    if (typeof src === 'number') return src;
    if (!src) return 0;
    const unit = src.BYTES_PER_ELEMENT || 1;
    const count = length ? length : (src.length !== undefined ? src.length : src.byteLength) - (offset || 0);
    return count * unit;
  };
  const image = (source) => source && source.width !== undefined ? source.width * source.height * 4 : 0;
  const uploads = {
    bufferData: (a) => from(a[1], a[3], a[4]),
    bufferSubData: (a) => from(a[2], a[3], a[4]),
    texImage2D: (a) => a.length >= 9 ? a[3] * a[4] * 4 : image(a[5]),
    texSubImage2D: (a) => a.length >= 9 ? a[4] * a[5] * 4 : image(a[6]),
  };
  for (const name of Object.getOwnPropertyNames(proto)) {
    const d = Object.getOwnPropertyDescriptor(proto, name);
    if (name === 'constructor' || !d || typeof d.value !== 'function') continue;
    const f = d.value, size = uploads[name];
    proto[name] = function(...a) {
      wgGl.calls++;
      wgGl.byName[name] = (wgGl.byName[name] || 0) + 1;
      if (size) wgGl.bytes += size(a);
      return f.apply(this, a);
    };
  }
})();
)js";

// A steady frame sends the GPU only what changed: the tree's vertices and indices went once, so
// what a frame uploads is at most the snow's new flakes (a vertex and an index each), the two text
// lines' vertices and the ground's four.
TEST(WebFrameCalls, SteadyFramesUploadOnlyTheSnowAndTheText) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(wgtest::ExportedPage());
  Chromium browser;
  browser.AddScriptOnNewDocument(kCountWebGl);
  OpenPage(browser, server.Url("/"));
  ClickOpen(browser);
  ASSERT_TRUE(browser.WaitFor("wgPage.framesDrawn() > 5", 30s));
  const double from =
      browser.Evaluate("(() => { wgGl.calls = 0; wgGl.bytes = 0; wgGl.byName = {}; return wgPage.framesDrawn(); })()")
          .num();
  ASSERT_TRUE(browser.WaitFor("wgPage.framesDrawn() > " + std::to_string(from + 20), 60s));
  const wgtest::Json got =
      browser.Evaluate("[wgGl.calls, wgGl.bytes, wgPage.framesDrawn(), JSON.stringify(wgGl.byName)]");
  const double frames = got[2].num() - from;
  ASSERT_GT(frames, 0);
  const double calls = got[0].num() / frames, bytes = got[1].num() / frames;
  std::printf("per steady frame over %.0f frames: %.1f WebGL calls, %.0f bytes uploaded\n%s\n", frames, calls, bytes,
              got[3].str().c_str());

  // The snow gains a flake a frame up to its 3000 (snow/modSnow.h), each a 16-byte vertex (position,
  // colour) and an index of at most 4 bytes; the built-in greeting and its longest credit line have 19
  // and 29 characters, at most a quad (six 28-byte vertices) each; the ground is four 20-byte vertices.
  const double flakes = std::min(3000.0, got[2].num() + 1);
  const double bound = flakes * (16 + 4) + (19 + 29) * 6 * 28 + 4 * 20;
  EXPECT_LE(bytes, bound) << got[3].str();
  // The frame's draws: the tree's batches, the snow, the ground and two lines of text; its calls
  // bind what each draw reads and set the states that change between them (120 a frame when every
  // draw set up its attributes, samplers and geometry anew; 58 since).
  EXPECT_LE(calls, 80) << got[3].str();
}

}  // namespace
