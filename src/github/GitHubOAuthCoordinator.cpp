#include "github/GitHubOAuthCoordinator.hpp"

#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "github/GitHubOAuthCoordinatorError.hpp"
#include "github/UrlEncoding.hpp"
#include "platform/Base64.hpp"
#include "platform/Uuid.hpp"

namespace pelko {
namespace {

using Error = GitHubOAuthCoordinatorError;

// The redirect address's scheme as the session's callback scheme ("pelko" of "pelko://oauth/callback");
// nothing when it has none, or when it is one the web view loads itself: a session that waited for
// "https" would take GitHub's own pages for the callback.
std::optional<std::string> callbackSchemeOf(const std::string& address) {
    size_t colon = address.find(':');
    if (colon == 0 || colon == std::string::npos || !std::isalpha(static_cast<unsigned char>(address[0])))
        return std::nullopt;
    for (size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(address[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    std::string scheme = address.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    for (const char* builtIn : {"http", "https", "file", "about", "data", "blob", "javascript"})
        if (scheme == builtIn) return std::nullopt;
    return scheme;
}

// The first query item of that name: nothing when absent, an empty optional value for "name" alone.
std::optional<std::optional<std::string>> queryItem(const std::string& url, const std::string& name) {
    size_t question = url.find('?');
    if (question == std::string::npos) return std::nullopt;
    size_t end = url.find('#', question);
    std::string query =
        url.substr(question + 1, end == std::string::npos ? std::string::npos : end - question - 1);
    size_t position = 0;
    while (position <= query.size()) {
        size_t amp = query.find('&', position);
        std::string item =
            query.substr(position, amp == std::string::npos ? std::string::npos : amp - position);
        size_t equals = item.find('=');
        if (urlencoding::decode(item.substr(0, equals)) == name) {
            if (equals == std::string::npos) return std::optional<std::string>();
            return std::optional<std::string>(urlencoding::decode(item.substr(equals + 1)));
        }
        if (amp == std::string::npos) break;
        position = amp + 1;
    }
    return std::nullopt;
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : " ") + item;
    return text;
}

}  // namespace

std::shared_ptr<GitHubOAuthCoordinator> GitHubOAuthCoordinator::create(
    Configuration configuration, GitHubEndpoints endpoints, std::shared_ptr<GitAuthManager> authManager,
    std::shared_ptr<GitHubOAuthHTTPClient> httpClient, std::shared_ptr<GitTokenRefresher> tokenRefresher,
    std::shared_ptr<OAuthSessionFactory> sessionFactory, OAuthTokenRecord::Clock clock) {
    return std::shared_ptr<GitHubOAuthCoordinator>(new GitHubOAuthCoordinator(
        std::move(configuration), std::move(endpoints), std::move(authManager), std::move(httpClient),
        std::move(tokenRefresher), std::move(sessionFactory), std::move(clock)));
}

GitHubOAuthCoordinator::GitHubOAuthCoordinator(Configuration configuration, GitHubEndpoints endpoints,
                                               std::shared_ptr<GitAuthManager> authManager,
                                               std::shared_ptr<GitHubOAuthHTTPClient> httpClient,
                                               std::shared_ptr<GitTokenRefresher> tokenRefresher,
                                               std::shared_ptr<OAuthSessionFactory> sessionFactory,
                                               OAuthTokenRecord::Clock clock)
    : configuration_(std::move(configuration)),
      endpoints_(std::move(endpoints)),
      authManager_(std::move(authManager)),
      httpClient_(std::move(httpClient)),
      tokenRefresher_(std::move(tokenRefresher)),
      sessionFactory_(std::move(sessionFactory)),
      clock_(std::move(clock)),
      callbackQueue_(std::make_shared<SerialQueue>("app.pelko.oauth-signin")) {}

void GitHubOAuthCoordinator::setDelegate(std::weak_ptr<GitHubOAuthCoordinatorDelegate> delegate) {
    std::lock_guard lock(lock_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<GitHubOAuthCoordinatorDelegate> GitHubOAuthCoordinator::delegate() const {
    std::lock_guard lock(lock_);
    return delegate_.lock();
}

void GitHubOAuthCoordinator::reportFailure(const std::string& description) {
    if (auto target = delegate()) target->gitHubOAuthCoordinatorDidFail(*this, description);
}

void GitHubOAuthCoordinator::fail(GitHubOAuthCoordinatorError::Code code) {
    GitHubOAuthCoordinatorError error(code);
    reportFailure(error.what());
    throw error;
}

std::string GitHubOAuthCoordinator::randomCodeVerifier() {
    std::array<std::uint8_t, 32> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1)
        throw std::runtime_error("secure random bytes unavailable");
    return base64::encodeUrl(bytes);
}

std::string GitHubOAuthCoordinator::codeChallengeS256(const std::string& verifier) {
    std::array<std::uint8_t, SHA256_DIGEST_LENGTH> digest{};
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest.data());
    return base64::encodeUrl(digest);
}

std::vector<std::string> GitHubOAuthCoordinator::normalizeScopes(const std::vector<std::string>& scopes) {
    std::vector<std::string> normalized;
    for (const auto& scope : scopes) {
        if (scope.empty() || std::find(normalized.begin(), normalized.end(), scope) != normalized.end())
            continue;
        normalized.push_back(scope);
    }
    if (std::find(normalized.begin(), normalized.end(), "offline_access") == normalized.end())
        normalized.push_back("offline_access");
    return normalized;
}

void GitHubOAuthCoordinator::startAuthorization(Initiator) {
    // One window at a time: the previous attempt's window closes and its completion is ignored.
    ++attempt_;
    if (auto previous = std::exchange(currentSession_, nullptr)) previous->cancel();

    std::string state = Uuid::random().string();
    std::string verifier;
    try {
        verifier = randomCodeVerifier();
    } catch (const std::exception& error) {
        reportFailure(error.what());
        return;
    }
    {
        std::lock_guard lock(lock_);
        pendingState_ = state;
        pendingCodeVerifier_ = verifier;
    }

    auto callbackScheme = callbackSchemeOf(configuration_.redirectURI);
    if (!callbackScheme || endpoints_.oauthBase.rfind("http", 0) != 0) {
        reportFailure(Error(Error::Code::invalidRedirect).what());
        return;
    }
    std::string url =
        endpoints_.authorizeURL() + "?client_id=" + urlencoding::encode(configuration_.clientID) +
        "&redirect_uri=" + urlencoding::encode(configuration_.redirectURI) +
        "&scope=" + urlencoding::encode(joined(normalizeScopes(configuration_.scopes))) +
        "&state=" + urlencoding::encode(state) +
        "&code_challenge=" + urlencoding::encode(codeChallengeS256(verifier)) + "&code_challenge_method=S256";

    auto session = sessionFactory_->makeSession(
        url, *callbackScheme,
        [weak = weak_from_this(), attempt = attempt_](const OAuthSessionOutcome& outcome) {
            if (auto self = weak.lock()) self->sessionDidEnd(attempt, outcome);
        });
    currentSession_ = session;
    session->start();
}

void GitHubOAuthCoordinator::sessionDidEnd(std::uint64_t attempt, const OAuthSessionOutcome& outcome) {
    if (attempt != attempt_) return;
    currentSession_.reset();
    if (!outcome.callbackURL) {
        reportFailure(outcome.error ? outcome.error->what() : Error(Error::Code::invalidRedirect).what());
        return;
    }
    callbackQueue_->async([weak = weak_from_this(), url = *outcome.callbackURL] {
        auto self = weak.lock();
        if (!self) return;
        try {
            self->handleCallback(url);
        } catch (const std::exception&) {
            // handleCallback has already told the delegate.
        }
    });
}

OAuthTokenRecord GitHubOAuthCoordinator::handleCallback(const std::string& url) {
    std::string expectedState;
    std::string verifier;
    bool pending;
    {
        std::lock_guard lock(lock_);
        pending = pendingState_ && pendingCodeVerifier_;
        if (pending) {
            expectedState = *pendingState_;
            verifier = *pendingCodeVerifier_;
        }
    }
    if (!pending) fail(Error::Code::missingState);
    auto clearPendingIfStill = [&] {
        std::lock_guard lock(lock_);
        if (pendingState_ == expectedState) {
            pendingState_.reset();
            pendingCodeVerifier_.reset();
        }
    };

    auto state = queryItem(url, "state");
    if (!state || !*state) fail(Error::Code::missingState);
    if (**state != expectedState) {
        clearPendingIfStill();
        fail(Error::Code::stateMismatch);
    }
    auto code = queryItem(url, "code");
    // GitHub's Cancel button lands here (error=access_denied): the page must hear of it.
    if (!code || !*code) fail(Error::Code::missingCode);

    OAuthTokenRecord record;
    try {
        record = OAuthTokenRecord::fromResponse(httpClient_->exchangeCode(**code, verifier), clock_);
    } catch (const std::exception& error) {
        reportFailure(error.what());
        throw;
    }
    try {
        GitHubUser user = httpClient_->fetchUser(record.accessToken);
        record.accountLogin = user.login;
        record.accountAvatarURL = user.avatarURL;
    } catch (const std::exception&) {
        // Sign-in goes on without the account fields.
    }
    try {
        authManager_->saveToken(record);
    } catch (const std::exception& error) {
        reportFailure(error.what());
        throw;
    }

    if (!record.refreshToken.empty())
        tokenRefresher_->start();
    else
        tokenRefresher_->stop();
    if (auto target = delegate()) target->gitHubOAuthCoordinatorDidComplete(*this, record);
    clearPendingIfStill();
    return record;
}

}  // namespace pelko
