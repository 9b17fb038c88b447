#pragma once
// The files the service hands out by plain GET: the page files of the
// program's Html folder at the root of the site, and the Update folder
// (the template database, the help file and the updaters).
#include <string>

#include "MarketSimulator.h"

namespace vextal {

class CPageFiles {
public:
    // `updateKeyPem`: the Ed25519 private key (PEM) that signs the updaters;
    // empty: they are served unsigned, and the program refuses them.
    CPageFiles(const CMarket& market, std::string dataDir, std::string updateKeyPem = {});

    // Makes <dataDir>/Update/Vextal.mdb when it is missing.
    bool Prepare(std::string& error);
    // `path` without the leading "/". False when there is no such file.
    bool Get(const std::string& path, std::string& body, std::string& contentType) const;

    // One line per listed fund: code, TAB, name (GBK).
    std::string FundKeyText(const OleDate& now) const;

private:
    std::string Page(const std::string& name, const OleDate& now) const;

    const CMarket& m_market;
    std::string m_dataDir;
    std::string m_updateKeyPem;
};

// A small GIF image: the site logo.
std::string MakeLogoGif();

}  // namespace vextal
