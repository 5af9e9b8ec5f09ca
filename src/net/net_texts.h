#pragma once
// String ids of the failure causes the connection layers and the protocols
// put into words (a job's last error, its log, the explorer's and the
// command line's failure lines), so that the current language reaches them.
// Lines sent to servers are never among them.
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>

#include "lang/string_table.h"

namespace fetchora {

// A connection that failed at the socket.
inline constexpr uint32_t kStrNetConnectionFailed = 41301;
inline constexpr uint32_t kStrNetConnectionRefused = 41302;
inline constexpr uint32_t kStrNetConnectionReset = 41303;
inline constexpr uint32_t kStrNetConnectionAborted = 41304;
inline constexpr uint32_t kStrNetConnectionTimedOut = 41305;
inline constexpr uint32_t kStrNetNetworkUnreachable = 41306;
inline constexpr uint32_t kStrNetHostUnreachable = 41307;
inline constexpr uint32_t kStrNetSocketError = 41308;  // "%1" the error number

// Host names; "%1" the host.
inline constexpr uint32_t kStrNetCannotLookUpNow = 41311;
inline constexpr uint32_t kStrNetCannotLookUpNowBecause = 41312;  // "%2" the name service's words
inline constexpr uint32_t kStrNetHostDoesNotExist = 41313;

// TLS; "%1" the host, "%2" the library's reason.
inline constexpr uint32_t kStrNetTlsUnavailable = 41321;
inline constexpr uint32_t kStrNetCertificateNotValidFor = 41322;
inline constexpr uint32_t kStrNetCertificateNotTrusted = 41323;
inline constexpr uint32_t kStrNetTlsHandshakeFailed = 41324;
inline constexpr uint32_t kStrNetPeerClosed = 41325;
inline constexpr uint32_t kStrNetNoReasonGiven = 41326;
inline constexpr uint32_t kStrNetTlsReadFailed = 41327;
inline constexpr uint32_t kStrNetTlsWriteFailed = 41328;

// Proxies.
inline constexpr uint32_t kStrNetUnknownProxyType = 41331;  // "%1" the type number
inline constexpr uint32_t kStrNetFtpProxyCannotCarryTls = 41332;  // "%1" the host
inline constexpr uint32_t kStrNetProxyClosedHandshake = 41333;
inline constexpr uint32_t kStrNetProxyAnswerTooLong = 41334;
inline constexpr uint32_t kStrNetTunnelTargetNotHost = 41335;  // "%1" the target
inline constexpr uint32_t kStrNetProxyAnswerNotHttp = 41336;  // "%1" its first line
inline constexpr uint32_t kStrNetProxyAnswerStartsEmpty = 41337;
inline constexpr uint32_t kStrNetProxyRefusedTunnel = 41338;  // "%1" its status line
inline constexpr uint32_t kStrNetProxyAnswerNotSocks4 = 41339;  // "%1" the answer's bytes
inline constexpr uint32_t kStrNetProxyAnswerNotSocks5 = 41340;
inline constexpr uint32_t kStrNetSocks4OnlyIpv4 = 41341;  // "%1" the address
inline constexpr uint32_t kStrNetSocks4Refused = 41342;  // "%1" the reason below
inline constexpr uint32_t kStrNetSocks5NoMethod = 41343;
inline constexpr uint32_t kStrNetSocks5LoginRejected = 41344;
inline constexpr uint32_t kStrNetSocks5UnknownAddressType = 41345;
inline constexpr uint32_t kStrNetSocks5LoginTooLong = 41346;
inline constexpr uint32_t kStrNetSocks5HostTooLong = 41347;  // "%1" the host
inline constexpr uint32_t kStrNetSocks5CouldNotConnect = 41348;  // "%1" the reason below
// The proxies' reasons; "%1" the answer's code in hex.
inline constexpr uint32_t kStrNetSocksUnknownAnswer = 41349;
inline constexpr uint32_t kStrNetSocks4Rejected = 41350;
inline constexpr uint32_t kStrNetSocks4NoIdentService = 41351;
inline constexpr uint32_t kStrNetSocks4IdentNotConfirmed = 41352;
inline constexpr uint32_t kStrNetSocks5GeneralFailure = 41353;
inline constexpr uint32_t kStrNetSocks5NotAllowed = 41354;
inline constexpr uint32_t kStrNetSocks5TargetRefused = 41355;
inline constexpr uint32_t kStrNetSocks5TtlExpired = 41356;
inline constexpr uint32_t kStrNetSocks5CommandUnsupported = 41357;
inline constexpr uint32_t kStrNetSocks5AddressTypeUnsupported = 41358;

// HTTP; "%1" seconds.
inline constexpr uint32_t kStrNetRequestNotTaken = 41361;
inline constexpr uint32_t kStrNetHeadTooSlow = 41362;
inline constexpr uint32_t kStrNetNothingSentFor = 41363;
inline constexpr uint32_t kStrNetClosedBeforeHead = 41364;
inline constexpr uint32_t kStrNetHeaderLineTooLong = 41365;  // "%1" bytes
// The answer's head and body that cannot be taken; "%1" the server's value.
inline constexpr uint32_t kStrHttpTooManyHeaderLines = 41611;  // "%1" lines
inline constexpr uint32_t kStrHttpBadContentLength = 41612;
inline constexpr uint32_t kStrHttpTwoContentLengths = 41613;
inline constexpr uint32_t kStrHttpContentLengthTooLarge = 41614;
inline constexpr uint32_t kStrHttpBadContentRange = 41615;
inline constexpr uint32_t kStrHttpRangeBeyondEnd = 41616;
inline constexpr uint32_t kStrHttpBadChunkSize = 41617;  // "%1" the line as it can be printed
inline constexpr uint32_t kStrHttpChunkSizeTooLarge = 41618;
inline constexpr uint32_t kStrHttpChunkWithoutSize = 41619;
inline constexpr uint32_t kStrHttpChunkLineTooLong = 41620;  // "%1" bytes
inline constexpr uint32_t kStrHttpClosedInsideChunks = 41621;
inline constexpr uint32_t kStrHttpClosedAfterBytes = 41622;  // "%1" bytes read of "%2" the body's
inline constexpr uint32_t kStrHttpClosedAtByte = 41623;  // "%1" the byte reached of "%2" the file's size

// FTP; "%1" the server's last reply line where there is one.
inline constexpr uint32_t kStrFtpServerAnswered = 41371;
inline constexpr uint32_t kStrFtpNoRoomForLogin = 41372;
inline constexpr uint32_t kStrFtpLoginRefused = 41373;
inline constexpr uint32_t kStrFtpActiveThroughProxy = 41374;
inline constexpr uint32_t kStrFtpNoListeningSocket = 41375;
inline constexpr uint32_t kStrFtpZeroBytes = 41376;
inline constexpr uint32_t kStrFtpPassiveNoAddress = 41377;
inline constexpr uint32_t kStrFtpRefusedStart = 41378;  // "%1" the byte
inline constexpr uint32_t kStrFtpRefusedList = 41379;
inline constexpr uint32_t kStrFtpFolderNotFound = 41380;
inline constexpr uint32_t kStrFtpFolderNotFoundBecause = 41381;
inline constexpr uint32_t kStrFtpCommandNotSent = 41382;
inline constexpr uint32_t kStrFtpTooManyReplies = 41383;
inline constexpr uint32_t kStrFtpSessionClosed = 41384;
inline constexpr uint32_t kStrFtpControlClosed = 41385;
inline constexpr uint32_t kStrFtpDataConnectionFailed = 41386;
inline constexpr uint32_t kStrFtpDataEndedEarly = 41387;  // "%1" the byte, "%2" the file's end
inline constexpr uint32_t kStrFtpAnswerDoesNotFit = 41388;

// The FTP folder listings of the site explorer.
inline constexpr uint32_t kStrFtpReplyLineTooLong = 41411;  // "%1" bytes
inline constexpr uint32_t kStrFtpReplyTooManyLines = 41412;  // "%1" lines
inline constexpr uint32_t kStrFtpListingStopped = 41413;
inline constexpr uint32_t kStrFtpControlFailed = 41414;
inline constexpr uint32_t kStrFtpAnswerEndedListing = 41415;
inline constexpr uint32_t kStrFtpNoAnswerInTime = 41416;
inline constexpr uint32_t kStrFtpDataPortFailed = 41417;  // "%1" the port
inline constexpr uint32_t kStrFtpDataNotTaken = 41418;
inline constexpr uint32_t kStrFtpListingTooLarge = 41419;  // "%1" MiB
inline constexpr uint32_t kStrFtpListingTooManyLines = 41420;  // "%1" lines
inline constexpr uint32_t kStrFtpHostNotResolved = 41421;  // "%1" the host
inline constexpr uint32_t kStrFtpServerUnreachable = 41422;
inline constexpr uint32_t kStrFtpLoginFailed = 41423;
inline constexpr uint32_t kStrFtpAnswerDoesNotFitListing = 41424;
inline constexpr uint32_t kStrFtpListingWithoutData = 41425;
inline constexpr uint32_t kStrFtpNotListable = 41426;

}  // namespace fetchora
